#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <morvantiquell/layer_query.h>

namespace {

// Lines are gathered into blocks of about this size, so that a long listing costs one stream
// call per block rather than two per name.
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

// The names, one per line. A name ends at its terminator; a block without one is written whole
// and never read past.
void WriteNames(const InstanceLayerList& list) {
  std::string lines;
  lines.reserve(kBlockSize + MORVANTIQUELL_LAYER_NAME_SIZE + 1);
  for (std::uint32_t i = 0; i < list.count; ++i) {
    const char* name = list.names[i];
    const void* end = std::memchr(name, '\0', MORVANTIQUELL_LAYER_NAME_SIZE);
    lines.append(name, end != nullptr
                           ? static_cast<std::size_t>(static_cast<const char*>(end) - name)
                           : std::size_t{MORVANTIQUELL_LAYER_NAME_SIZE});
    lines += '\n';
    if (lines.size() >= kBlockSize) {
      std::cout.write(lines.data(), static_cast<std::streamsize>(lines.size()));
      lines.clear();
    }
  }
  std::cout.write(lines.data(), static_cast<std::streamsize>(lines.size()));
}

}  // namespace

// Arguments and environment are accepted and ignored: the program has no options.
int main() {
  // Nothing here mixes C stdio with the C++ streams, so the streams may keep buffers of their
  // own, which makes a long listing much cheaper to write.
  std::ios::sync_with_stdio(false);
  InstanceLayerList* list = QueryInstanceLayers();
  if (list == nullptr) {
    return EXIT_FAILURE;  // the query has said why on standard error
  }
  WriteNames(*list);
  ReleaseInstanceLayerList(list);

  // A listing that did not reach its reader must not end like one that did.
  if (!std::cout.flush()) {
    std::cerr << "failed to write the layer list to standard output\n" << std::flush;
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
