/* Lists the layers with their implementation versions, through the installed header alone. */
#include <morvantiquell/layer_query.h>
#include <stdio.h>

int main(void) {
  InstanceLayerList* list = QueryInstanceLayers();
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
