#ifndef MORVANTIQUELL_MANIFESTS_H
#define MORVANTIQUELL_MANIFESTS_H

// The layer manifests the Vulkan loader reads, read as it reads them: where it looks in this
// environment (for its version), what each file says, and for each layer the loader does not
// list, why.

#include <cstddef>
#include <cstdint>

namespace manifests {

// One layer a manifest file names, or a file that names none.
struct Layer {
  char* file;  // the manifest's path
  char* name;  // the layer's name (cut as the loader cuts it), or null where there is none
  std::size_t nameLength;  // as written in the file
  char* library;  // "library_path" as written, or for a meta layer its component layers, or null
  char* enableVariable;   // "enable_environment" of an implicit layer: on only where set to
  char* enableValue;      // this value; null where the layer has none
  char* disableVariable;  // "disable_environment": off wherever set; null where none
  char* disableValue;
  bool implicit;
  bool listed;  // the loader lists it
  bool unread;  // the file could not be read or parsed: a loader may fail on it
  char* why;    // where the loader would not list it, why; else null
};

struct Found {
  Layer* layers;  // in the order the loader reads them
  std::size_t count;
  std::size_t capacity;
  char* settingsFile;  // the loader settings file the loader reads, or null
  bool outOfMemory;
};

// Reads every manifest the loader of `loaderVersion` reads in this environment, and says of each
// layer the loader cannot list why (a file it cannot read or parse, a field it needs missing, a
// layer for the other machine or one that VK_LOADER_LAYERS_DISABLE or the settings file turns
// off). `found` must be zeroed.
void Read(std::uint32_t loaderVersion, Found* found);

// Reads one manifest file as the loader reads it (and a file it already read, not again).
void ReadManifest(const char* file, bool implicit, Found* found);

// Marks the layers behind the names the loader lists (`count` of them, each time it lists one,
// in the loader's order): for each, the first layer of that name not yet taken that the loader
// could list. Then a layer of a listed name that was not taken is one the loader took from
// another file; any other the loader does not list is passed over for a reason the check does not
// know. Returns, for each listed name, the index of its layer in `found`, or `found->count` where
// none was found (a block from malloc, or null where memory ran out).
std::size_t* Match(const char* const* names, std::size_t count, Found* found);

// Whether the implicit layer is on in this environment: its enable variable set to its value
// (where it has one) and its disable variable not set.
bool IsOn(const Layer& layer);

void Free(Found* found);

}  // namespace manifests

#endif
