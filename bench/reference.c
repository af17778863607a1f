/* The floor: the loader calls the program makes, with the same values, and nothing else. No
 * list, output with printf. */
#include <stdio.h>
#include <stdlib.h>

#include "loader_calls.h"

int main(void) {
  Loader loader;
  if (!OpenLoader(&loader)) {
    return 1;
  }
  uint32_t count = 0;
  loader.enumerate(&count, NULL);
  VkLayerProperties* layers = calloc(count, sizeof *layers);
  loader.enumerate(&count, layers);
  for (uint32_t i = 0; i < count; ++i) {
    printf("%s\n", layers[i].layerName);
  }
  free(layers);
  CloseLoader(&loader);
  return 0;
}
