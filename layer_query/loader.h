#ifndef MORVANTIQUELL_LAYER_QUERY_LOADER_H
#define MORVANTIQUELL_LAYER_QUERY_LOADER_H

// What the query and the check program's trials share of the Vulkan loader: opening it, creating
// the instance the listing makes, and the lines that say what failed. Not part of the library's
// interface.

// Every Vulkan command is reached through the loader opened at run time, never by linking.
#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

#include <morvantiquell/layer_query.h>

#include <cstdint>

#include "platform.h"

namespace loader {

// Where failure lines go: to `report`, one call a line, without its line feed; where it is null,
// to standard error, each line flushed. A line is composed without allocating, so that running
// out of memory can still be reported.
struct Reporter {
  LayerQueryReport report;
  void* context;
};

void ReportLine(const Reporter& reporter, const char* text);
void ReportResult(const Reporter& reporter, const char* command, VkResult result);
void ReportOutOfMemory(const Reporter& reporter, std::uint32_t count);

struct LoaderBinding {
  platform::SharedLibrary* library;
  PFN_vkGetInstanceProcAddr getInstanceProcAddr;
};

// Opens the loader and takes its entry point; on failure nothing stays loaded.
bool BindLoader(LoaderBinding* loader, const Reporter& reporter);

template <typename Command>
Command Resolve(const LoaderBinding& loader, VkInstance instance, const char* name) {
  return reinterpret_cast<Command>(loader.getInstanceProcAddr(instance, name));
}

// vkEnumerateInstanceLayerProperties, resolved through the instance (VK_NULL_HANDLE for the
// global one); null after a report.
PFN_vkEnumerateInstanceLayerProperties ResolveEnumerateLayers(const LoaderBinding& loader,
                                                              VkInstance instance,
                                                              const Reporter& reporter);

// Calls vkCreateInstance for the instance the listing makes (Vulkan 1.0, no extension), with the
// one layer `layer` enabled where it is not null, and hands back its result and the instance. A
// vkCreateInstance that does not resolve is reported, and returns false.
bool CallCreateInstance(const LoaderBinding& loader, const char* layer, const Reporter& reporter,
                        VkResult* result, VkInstance* instance);

}  // namespace loader

#endif
