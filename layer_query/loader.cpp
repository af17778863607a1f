#include "loader.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace loader {

namespace {

// Lines are composed whole in a buffer on the stack, then handed on in one piece: composing one
// allocates nothing, so that running out of memory can still be said, and C's streams throw
// nothing through the C interface. The longest line is well under this size.
constexpr std::size_t kLineSize = 192;

void HandOn(const Reporter& reporter, char* line, int length) {
  if (length < 0) {
    return;
  }
  const std::size_t size = std::min(static_cast<std::size_t>(length), kLineSize - 2);
  if (reporter.report != nullptr) {
    line[size] = '\0';
    reporter.report(reporter.context, line);
    return;
  }
  line[size] = '\n';
  std::fwrite(line, 1, size + 1, stderr);
  std::fflush(stderr);
}

}  // namespace

void ReportLine(const Reporter& reporter, const char* text) {
  char line[kLineSize];
  HandOn(reporter, line, std::snprintf(line, sizeof line, "%s", text));
}

void ReportResult(const Reporter& reporter, const char* command, VkResult result) {
  char line[kLineSize];
  HandOn(reporter, line,
         std::snprintf(line, sizeof line, "%s failed with error code '%d'", command,
                       static_cast<int>(result)));
}

void ReportOutOfMemory(const Reporter& reporter, std::uint32_t count) {
  char line[kLineSize];
  HandOn(reporter, line,
         std::snprintf(line, sizeof line, "failed to allocate memory for %lu instance layers",
                       static_cast<unsigned long>(count)));
}

bool BindLoader(LoaderBinding* loader, const Reporter& reporter) {
  loader->library = platform::LoadSharedLibrary(platform::kVulkanLoaderFileName);
  if (loader->library == nullptr) {
    ReportLine(reporter, "failed to load \"vulkan-1.dll\" library");
    return false;
  }
  loader->getInstanceProcAddr = reinterpret_cast<PFN_vkGetInstanceProcAddr>(
      platform::FindLibraryProc(loader->library, "vkGetInstanceProcAddr"));
  if (loader->getInstanceProcAddr == nullptr) {
    ReportLine(reporter,
               "failed to load \"vkGetInstanceProcAddr\" function from \"vulkan-1.dll\" library");
    platform::FreeSharedLibrary(loader->library);
    return false;
  }
  return true;
}

PFN_vkEnumerateInstanceLayerProperties ResolveEnumerateLayers(const LoaderBinding& loader,
                                                              VkInstance instance,
                                                              const Reporter& reporter) {
  const auto enumerateLayers = Resolve<PFN_vkEnumerateInstanceLayerProperties>(
      loader, instance, "vkEnumerateInstanceLayerProperties");
  if (enumerateLayers == nullptr) {
    ReportLine(reporter,
               "failed to load \"vkEnumerateInstanceLayerProperties\" function from "
               "\"vkGetInstanceProcAddr\"");
  }
  return enumerateLayers;
}

bool CallCreateInstance(const LoaderBinding& loader, const char* layer, const Reporter& reporter,
                        VkResult* result, VkInstance* instance) {
  const auto createInstance =
      Resolve<PFN_vkCreateInstance>(loader, VK_NULL_HANDLE, "vkCreateInstance");
  if (createInstance == nullptr) {
    ReportLine(reporter,
               "failed to load \"vkCreateInstance\" function from \"vkGetInstanceProcAddr\"");
    return false;
  }

  VkApplicationInfo applicationInfo{};
  applicationInfo.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
  applicationInfo.pApplicationName = "Morvantiquell";
  applicationInfo.applicationVersion = VK_MAKE_VERSION(1, 0, 0);
  applicationInfo.pEngineName = "NoEngine";
  applicationInfo.engineVersion = VK_MAKE_VERSION(1, 0, 0);
  applicationInfo.apiVersion = VK_API_VERSION_1_0;

  VkInstanceCreateInfo createInfo{};
  createInfo.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
  createInfo.pApplicationInfo = &applicationInfo;
  if (layer != nullptr) {
    createInfo.enabledLayerCount = 1;
    createInfo.ppEnabledLayerNames = &layer;
  }

  *instance = VK_NULL_HANDLE;
  *result = createInstance(&createInfo, nullptr, instance);
  return true;
}

}  // namespace loader
