#include <morvantiquell/layer_query.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "loader.h"

static_assert(sizeof(VkLayerProperties::layerName) == MORVANTIQUELL_LAYER_NAME_SIZE,
              "a name block holds the whole Vulkan name field");

namespace {

using loader::LoaderBinding;
using loader::Reporter;

// A Vulkan 1.0 instance with nothing enabled, or VK_NULL_HANDLE after a report.
VkInstance CreateInstance(const LoaderBinding& binding, const Reporter& reporter) {
  VkResult result = VK_SUCCESS;
  VkInstance instance = VK_NULL_HANDLE;
  if (!loader::CallCreateInstance(binding, nullptr, reporter, &result, &instance)) {
    return VK_NULL_HANDLE;
  }
  if (result != VK_SUCCESS) {
    loader::ReportResult(reporter, "vkCreateInstance", result);
    return VK_NULL_HANDLE;
  }
  if (instance == VK_NULL_HANDLE) {
    loader::ReportLine(reporter,
                       "vkCreateInstance succeed but returned instance is VK_NULL_HANDLE");
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
InstanceLayerList* AllocateList(std::uint32_t count, const Reporter& reporter) {
  auto* list = static_cast<InstanceLayerList*>(platform::TaskMemAlloc(sizeof(InstanceLayerList)));
  if (list == nullptr) {
    loader::ReportOutOfMemory(reporter, count);
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
    loader::ReportOutOfMemory(reporter, count);
    DiscardList(list, 0);
    return nullptr;
  }
  return list;
}

// Copies each reported layer into the list; on running out of memory the list is given back.
bool CopyLayers(InstanceLayerList* list, const VkLayerProperties* layers,
                const Reporter& reporter) {
  for (std::uint32_t i = 0; i < list->count; ++i) {
    auto* name = static_cast<char*>(platform::TaskMemAlloc(MORVANTIQUELL_LAYER_NAME_SIZE));
    if (name == nullptr) {
      loader::ReportOutOfMemory(reporter, list->count);
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
InstanceLayerList* EnumerateLayers(const LoaderBinding& binding, VkInstance instance,
                                   const Reporter& reporter) {
  const auto enumerateLayers = loader::ResolveEnumerateLayers(binding, instance, reporter);
  if (enumerateLayers == nullptr) {
    return nullptr;
  }

  std::uint32_t count = 0;
  VkResult result = enumerateLayers(&count, nullptr);
  if (result != VK_SUCCESS) {
    loader::ReportResult(reporter, "vkEnumerateInstanceLayerProperties", result);
    return nullptr;
  }

  InstanceLayerList* list = AllocateList(count, reporter);
  if (list == nullptr || count == 0) {
    return list;
  }

  // The filling call must see every byte zero.
  auto* layers =
      static_cast<VkLayerProperties*>(platform::ScratchAlloc(count, sizeof(VkLayerProperties)));
  if (layers == nullptr) {
    loader::ReportOutOfMemory(reporter, count);
    DiscardList(list, 0);
    return nullptr;
  }

  // The filling call may write back a smaller count; the list keeps the counted one, and the
  // elements it left alone stay zero: empty names, version 0.
  result = enumerateLayers(&count, layers);
  if (result != VK_SUCCESS) {
    loader::ReportResult(reporter, "vkEnumerateInstanceLayerProperties", result);
    DiscardList(list, 0);
    list = nullptr;
  } else if (!CopyLayers(list, layers, reporter)) {
    list = nullptr;
  }
  platform::ScratchFree(layers);
  return list;
}

// Destroys the instance through the command it resolves to. A failed query already wrote its
// one line, so only a successful one hands in a reporter for a destroy command that does not
// resolve.
void DestroyInstance(const LoaderBinding& binding, VkInstance instance, const Reporter* reporter) {
  const auto destroyInstance =
      loader::Resolve<PFN_vkDestroyInstance>(binding, instance, "vkDestroyInstance");
  if (destroyInstance != nullptr) {
    destroyInstance(instance, nullptr);
  } else if (reporter != nullptr) {
    loader::ReportLine(
        *reporter, "failed to load \"vkDestroyInstance\" function from \"vkGetInstanceProcAddr\"");
  }
}

// The query, its failures reported as the reporter says.
InstanceLayerList* Query(const Reporter& reporter) {
  LoaderBinding binding{};
  if (!loader::BindLoader(&binding, reporter)) {
    return nullptr;
  }
  InstanceLayerList* list = nullptr;
  VkInstance instance = CreateInstance(binding, reporter);
  if (instance != VK_NULL_HANDLE) {
    list = EnumerateLayers(binding, instance, reporter);
    // A caller's function hears only why a query failed; standard error hears this as well.
    DestroyInstance(binding, instance,
                    list != nullptr && reporter.report == nullptr ? &reporter : nullptr);
  }
  platform::FreeSharedLibrary(binding.library);
  return list;
}

}  // namespace

extern "C" InstanceLayerList* QueryInstanceLayersReporting(LayerQueryReport report, void* context) {
  return Query(Reporter{report, context});
}

extern "C" InstanceLayerList* QueryInstanceLayers(void) {
  return QueryInstanceLayersReporting(nullptr, nullptr);
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
