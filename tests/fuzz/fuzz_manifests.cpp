// libFuzzer's target for the check's reading of layer manifests: any bytes, as a manifest file,
// read as an implicit and as an explicit layer's, then matched against a listed name. Whatever the
// bytes, the reading ends, gives each layer it could not take a reason, and frees all it took
// (AddressSanitizer and UndefinedBehaviorSanitizer watch).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "manifests.h"

namespace {

char folder[] = "/tmp/morvantiquell-fuzz-XXXXXX";

void RemoveFolder() {
  std::remove((std::string(folder) + "/manifest.json").c_str());
  rmdir(folder);
}

// The file each input is written to, in a folder of the run's own, gone when the run ends.
std::string File() {
  if (mkdtemp(folder) == nullptr) {
    std::abort();
  }
  std::atexit(RemoveFolder);
  return std::string(folder) + "/manifest.json";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string file = File();
  std::FILE* stream = std::fopen(file.c_str(), "wb");
  if (stream == nullptr || std::fwrite(data, 1, size, stream) != size || std::fclose(stream) != 0) {
    std::abort();
  }
  for (const bool implicit : {true, false}) {
    manifests::Found found{};
    manifests::ReadManifest(file.c_str(), implicit, &found);
    const char* const names[] = {"VK_LAYER_MORVANTIQUELL_fuzz"};
    std::free(manifests::Match(names, 1, &found));
    for (std::size_t i = 0; i < found.count; ++i) {
      const manifests::Layer& layer = found.layers[i];
      if (!layer.listed && layer.why == nullptr && !found.outOfMemory) {
        std::abort();  // a layer the loader does not list, without a reason
      }
      if (layer.implicit && layer.disableVariable != nullptr) {
        static_cast<void>(manifests::IsOn(layer));
      }
    }
    manifests::Free(&found);
  }
  return 0;
}
