#include <cstdlib>
#include <cstring>
#include <iostream>

#include "layer_query.h"

namespace {

// A name up to its terminator; a block without one is written whole and never read past.
void WriteName(const char* block) {
  const void* end = std::memchr(block, '\0', MORVANTIQUELL_LAYER_NAME_SIZE);
  const auto length = end != nullptr ? static_cast<const char*>(end) - block
                                     : std::ptrdiff_t{MORVANTIQUELL_LAYER_NAME_SIZE};
  std::cout.write(block, length);
  std::cout.put('\n');
}

}  // namespace

// Arguments and environment are accepted and ignored: the program has no options.
int main() {
  InstanceLayerList* list = QueryInstanceLayers();
  if (list == nullptr) {
    return EXIT_FAILURE;  // the query has said why on standard error
  }
  for (std::uint32_t i = 0; i < list->count; ++i) {
    WriteName(list->names[i]);
  }
  ReleaseInstanceLayerList(list);

  // A listing that did not reach its reader must not end like one that did.
  if (!std::cout.flush()) {
    std::cerr << "failed to write the layer list to standard output\n" << std::flush;
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
