#include <morvantiquell/layer_query.h>

// Every Vulkan command is reached through the loader opened at run time, never by linking.
#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform.h"

static_assert(sizeof(VkLayerProperties::layerName) == MORVANTIQUELL_LAYER_NAME_SIZE,
              "a name block holds the whole Vulkan name field");

namespace {

struct LoaderBinding {
  platform::SharedLibrary* library;
  PFN_vkGetInstanceProcAddr getInstanceProcAddr;
};

// Diagnostics are composed whole in a buffer on the stack, then written to standard error in one
// piece and flushed: composing one allocates nothing, so the query can still say that memory ran
// out, and C's streams throw nothing through the C interface. The longest line is well under
// this size.
constexpr std::size_t kLineSize = 192;

void WriteLine(const char* line, int length) {
  if (length < 0) {
    return;
  }
  std::fwrite(line, 1, std::min(static_cast<std::size_t>(length), kLineSize - 1), stderr);
  std::fflush(stderr);
}

void ReportLine(const char* text) {
  char line[kLineSize];
  WriteLine(line, std::snprintf(line, sizeof line, "%s\n", text));
}

void ReportResult(const char* command, VkResult result) {
  char line[kLineSize];
  WriteLine(line, std::snprintf(line, sizeof line, "%s failed with error code '%d'\n", command,
                                static_cast<int>(result)));
}

void ReportOutOfMemory(std::uint32_t count) {
  char line[kLineSize];
  WriteLine(line,
            std::snprintf(line, sizeof line, "failed to allocate memory for %lu instance layers\n",
                          static_cast<unsigned long>(count)));
}

template <typename Command>
Command Resolve(const LoaderBinding& loader, VkInstance instance, const char* name) {
  return reinterpret_cast<Command>(loader.getInstanceProcAddr(instance, name));
}

// Opens the loader and takes its entry point; on failure nothing stays loaded.
bool BindLoader(LoaderBinding* loader) {
  loader->library = platform::LoadSharedLibrary(platform::kVulkanLoaderFileName);
  if (loader->library == nullptr) {
    ReportLine("failed to load \"vulkan-1.dll\" library");
    return false;
  }
  loader->getInstanceProcAddr = reinterpret_cast<PFN_vkGetInstanceProcAddr>(
      platform::FindLibraryProc(loader->library, "vkGetInstanceProcAddr"));
  if (loader->getInstanceProcAddr == nullptr) {
    ReportLine("failed to load \"vkGetInstanceProcAddr\" function from \"vulkan-1.dll\" library");
    platform::FreeSharedLibrary(loader->library);
    return false;
  }
  return true;
}

// A Vulkan 1.0 instance with nothing enabled, or VK_NULL_HANDLE after a report.
VkInstance CreateInstance(const LoaderBinding& loader) {
  const auto createInstance =
      Resolve<PFN_vkCreateInstance>(loader, VK_NULL_HANDLE, "vkCreateInstance");
  if (createInstance == nullptr) {
    ReportLine("failed to load \"vkCreateInstance\" function from \"vkGetInstanceProcAddr\"");
    return VK_NULL_HANDLE;
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

  VkInstance instance = VK_NULL_HANDLE;
  const VkResult result = createInstance(&createInfo, nullptr, &instance);
  if (result != VK_SUCCESS) {
    ReportResult("vkCreateInstance", result);
    return VK_NULL_HANDLE;
  }
  if (instance == VK_NULL_HANDLE) {
    ReportLine("vkCreateInstance succeed but returned instance is VK_NULL_HANDLE");
  }
  return instance;
}

// Task memory for `count` elements of `size` bytes; null when that many bytes cannot be counted
// in a size_t (on 32-bit systems) or cannot be had.
void* TaskMemAllocArray(std::uint32_t count, std::size_t size) {
  if (count > SIZE_MAX / size) {
    return nullptr;
  }
  return platform::TaskMemAlloc(count * size);
}

// Gives back a list under construction whose first `namedCount` name blocks exist.
void DiscardList(InstanceLayerList* list, std::uint32_t namedCount) {
  list->count = namedCount;
  ReleaseInstanceLayerList(list);
}

// The record and its two arrays for `count` layers, or null after a report.
InstanceLayerList* AllocateList(std::uint32_t count) {
  auto* list = static_cast<InstanceLayerList*>(platform::TaskMemAlloc(sizeof(InstanceLayerList)));
  if (list == nullptr) {
    ReportOutOfMemory(count);
    return nullptr;
  }
  list->count = count;
  list->names = nullptr;
  list->implementationVersions = nullptr;
  if (count == 0) {
    return list;
  }
  list->names = static_cast<char**>(TaskMemAllocArray(count, sizeof(char*)));
  if (list->names != nullptr) {
    list->implementationVersions =
        static_cast<std::uint32_t*>(TaskMemAllocArray(count, sizeof(std::uint32_t)));
  }
  if (list->implementationVersions == nullptr) {
    ReportOutOfMemory(count);
    DiscardList(list, 0);
    return nullptr;
  }
  return list;
}

// Copies each reported layer into the list; on running out of memory the list is given back.
bool CopyLayers(InstanceLayerList* list, const VkLayerProperties* layers) {
  for (std::uint32_t i = 0; i < list->count; ++i) {
    auto* name = static_cast<char*>(platform::TaskMemAlloc(MORVANTIQUELL_LAYER_NAME_SIZE));
    if (name == nullptr) {
      ReportOutOfMemory(list->count);
      DiscardList(list, i);
      return false;
    }
    list->names[i] = name;
    std::memcpy(name, layers[i].layerName, MORVANTIQUELL_LAYER_NAME_SIZE);
    list->implementationVersions[i] = layers[i].implementationVersion;
  }
  return true;
}

// The instance's layers in a new list, or null after a report.
InstanceLayerList* EnumerateLayers(const LoaderBinding& loader, VkInstance instance) {
  const auto enumerateLayers = Resolve<PFN_vkEnumerateInstanceLayerProperties>(
      loader, instance, "vkEnumerateInstanceLayerProperties");
  if (enumerateLayers == nullptr) {
    ReportLine(
        "failed to load \"vkEnumerateInstanceLayerProperties\" function from "
        "\"vkGetInstanceProcAddr\"");
    return nullptr;
  }

  std::uint32_t count = 0;
  VkResult result = enumerateLayers(&count, nullptr);
  if (result != VK_SUCCESS) {
    ReportResult("vkEnumerateInstanceLayerProperties", result);
    return nullptr;
  }

  InstanceLayerList* list = AllocateList(count);
  if (list == nullptr || count == 0) {
    return list;
  }

  // The filling call must see every byte zero.
  auto* layers =
      static_cast<VkLayerProperties*>(platform::ScratchAlloc(count, sizeof(VkLayerProperties)));
  if (layers == nullptr) {
    ReportOutOfMemory(count);
    DiscardList(list, 0);
    return nullptr;
  }

  // The filling call may write back a smaller count; the list keeps the counted one, and the
  // elements it left alone stay zero: empty names, version 0.
  result = enumerateLayers(&count, layers);
  if (result != VK_SUCCESS) {
    ReportResult("vkEnumerateInstanceLayerProperties", result);
    DiscardList(list, 0);
    list = nullptr;
  } else if (!CopyLayers(list, layers)) {
    list = nullptr;
  }
  platform::ScratchFree(layers);
  return list;
}

// Destroys the instance through the command it resolves to. A failed query already wrote its
// one line, so only a successful one reports a destroy command that does not resolve.
void DestroyInstance(const LoaderBinding& loader, VkInstance instance, bool reportUnresolved) {
  const auto destroyInstance =
      Resolve<PFN_vkDestroyInstance>(loader, instance, "vkDestroyInstance");
  if (destroyInstance != nullptr) {
    destroyInstance(instance, nullptr);
  } else if (reportUnresolved) {
    ReportLine("failed to load \"vkDestroyInstance\" function from \"vkGetInstanceProcAddr\"");
  }
}

}  // namespace

extern "C" InstanceLayerList* QueryInstanceLayers(void) {
  LoaderBinding loader{};
  if (!BindLoader(&loader)) {
    return nullptr;
  }
  InstanceLayerList* list = nullptr;
  VkInstance instance = CreateInstance(loader);
  if (instance != VK_NULL_HANDLE) {
    list = EnumerateLayers(loader, instance);
    DestroyInstance(loader, instance, list != nullptr);
  }
  platform::FreeSharedLibrary(loader.library);
  return list;
}

extern "C" void ReleaseInstanceLayerList(InstanceLayerList* list) {
  if (list == nullptr) {
    return;
  }
  for (std::uint32_t i = 0; i < list->count; ++i) {
    platform::TaskMemFree(list->names[i]);
  }
  platform::TaskMemFree(list->implementationVersions);
  platform::TaskMemFree(list->names);
  platform::TaskMemFree(list);
}
