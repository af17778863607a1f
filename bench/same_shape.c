/* The floor for the program's own code: the loader calls the program makes, and the list built and
 * released in the shape the program must hand over (a record, the names and versions arrays, and
 * one 256-byte block per name, each its own allocation, taken and given back in the same order),
 * with the names printed from the list by plain C output. What the program costs beyond this is
 * its own. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "loader_calls.h"

typedef struct List {
  uint32_t count;
  char** names;
  uint32_t* implementationVersions;
} List;

int main(void) {
  Loader loader;
  if (!OpenLoader(&loader)) {
    return 1;
  }
  uint32_t count = 0;
  loader.enumerate(&count, NULL);

  List* list = malloc(sizeof *list);
  list->count = count;
  list->names = NULL;
  list->implementationVersions = NULL;
  if (count > 0) {
    list->names = malloc(count * sizeof *list->names);
    list->implementationVersions = malloc(count * sizeof *list->implementationVersions);
    VkLayerProperties* layers = calloc(count, sizeof *layers);
    loader.enumerate(&count, layers);
    for (uint32_t i = 0; i < list->count; ++i) {
      list->names[i] = malloc(VK_MAX_EXTENSION_NAME_SIZE);
      memcpy(list->names[i], layers[i].layerName, VK_MAX_EXTENSION_NAME_SIZE);
      list->implementationVersions[i] = layers[i].implementationVersion;
    }
    free(layers);
  }
  CloseLoader(&loader);

  for (uint32_t i = 0; i < list->count; ++i) {
    printf("%s\n", list->names[i]);
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    free(list->names[i]);
  }
  free(list->implementationVersions);
  free(list->names);
  free(list);
  return 0;
}
