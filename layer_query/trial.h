#ifndef MORVANTIQUELL_LAYER_QUERY_TRIAL_H
#define MORVANTIQUELL_LAYER_QUERY_TRIAL_H

// What the check program asks the loader, one trial in each child process: the layers the loader
// lists without creating an instance, and whether it creates one. Not part of the library's
// interface.

#include <cstdint>

#include "loader.h"

namespace trial {

struct LayerNames {
  std::uint32_t loaderVersion;  // vkEnumerateInstanceVersion's (1.0.0 where the loader has none)
  std::uint32_t count;
  VkLayerProperties* layers;  // count of them, in the loader's order, from malloc: free them
};

// The layers the global vkEnumerateInstanceLayerProperties reports, which runs no layer's
// instance code, and the loader's version; false after a report, with nothing to free.
bool ReadLayerNames(LayerNames* layers, const loader::Reporter& reporter);

// Creates the instance the listing makes, with `layer` enabled where it is not null, destroys it
// again, and hands back what vkCreateInstance returned; false after a report.
bool TryInstance(const char* layer, VkResult* result, const loader::Reporter& reporter);

}  // namespace trial

#endif
