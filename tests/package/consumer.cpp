// Lists the layers with their implementation versions, through the installed header alone.
#include <morvantiquell/layer_query.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

int main() {
  InstanceLayerList* list = QueryInstanceLayers();
  if (list == nullptr) {
    return 1;
  }
  for (std::uint32_t i = 0; i < list->count; ++i) {
    std::cout << std::string(list->names[i], strnlen(list->names[i], MORVANTIQUELL_LAYER_NAME_SIZE))
              << ' ' << list->implementationVersions[i] << '\n';
  }
  ReleaseInstanceLayerList(list);
  return 0;
}
