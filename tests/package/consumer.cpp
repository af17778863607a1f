// Lists the layers with their implementation versions, through the installed header alone; where
// the query fails, prints the line it was handed to a lambda, and exits 1.
#include <morvantiquell/layer_query.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

int main() {
  std::string reason;
  auto keep = [&reason](const char* message) { reason = message; };
  // The lambda travels through the context pointer; a plain function calls it.
  InstanceLayerList* list = QueryInstanceLayersReporting(
      [](void* context, const char* message) { (*static_cast<decltype(keep)*>(context))(message); },
      &keep);
  if (list == nullptr) {
    std::cout << "query failed: " << reason << '\n';
    return 1;
  }
  for (std::uint32_t i = 0; i < list->count; ++i) {
    std::cout << std::string(list->names[i], strnlen(list->names[i], MORVANTIQUELL_LAYER_NAME_SIZE))
              << ' ' << list->implementationVersions[i] << '\n';
  }
  ReleaseInstanceLayerList(list);
  return 0;
}
