/* Lists the layers with their implementation versions, through the installed header alone; where
 * the query fails, prints the line it was handed, and exits 1. */
#include <morvantiquell/layer_query.h>
#include <stdio.h>

static void PrintFailure(void* context, const char* message) {
  fprintf((FILE*)context, "query failed: %s\n", message);
}

int main(void) {
  InstanceLayerList* list = QueryInstanceLayersReporting(PrintFailure, stdout);
  if (list == NULL) {
    return 1;
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    printf("%.*s %lu\n", MORVANTIQUELL_LAYER_NAME_SIZE, list->names[i],
           (unsigned long)list->implementationVersions[i]);
  }
  ReleaseInstanceLayerList(list);
  return 0;
}
