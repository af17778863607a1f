#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <morvantiquell/layer_query.h>

namespace {

// Lines are gathered into blocks of about this size, so that a long listing costs one write per
// block rather than one per name. The program writes through C's standard streams, not the C++
// ones: it then needs nothing of the C++ runtime, which would cost more to load at start-up than
// a short listing costs to write.
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

char block[kBlockSize + MORVANTIQUELL_LAYER_NAME_SIZE + 1];

// The names, one per line. A name ends at its terminator; a block without one is written whole
// and never read past. Whether every write succeeded shows in ferror(stdout).
void WriteNames(const InstanceLayerList& list) {
  std::size_t used = 0;
  for (std::uint32_t i = 0; i < list.count; ++i) {
    const char* name = list.names[i];
    const void* end = std::memchr(name, '\0', MORVANTIQUELL_LAYER_NAME_SIZE);
    const std::size_t length = end != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(end) - name)
                                   : std::size_t{MORVANTIQUELL_LAYER_NAME_SIZE};
    std::memcpy(block + used, name, length);
    used += length;
    block[used++] = '\n';
    if (used >= kBlockSize) {
      std::fwrite(block, 1, used, stdout);
      used = 0;
    }
  }
  std::fwrite(block, 1, used, stdout);
}

}  // namespace

// Arguments and environment are accepted and ignored: the program has no options.
int main() {
  InstanceLayerList* list = QueryInstanceLayers();
  if (list == nullptr) {
    return EXIT_FAILURE;  // the query has said why on standard error
  }
  WriteNames(*list);
  ReleaseInstanceLayerList(list);

  // A listing that did not reach its reader must not end like one that did.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("failed to write the layer list to standard output\n", stderr);
    std::fflush(stderr);
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
