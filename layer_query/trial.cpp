#include "trial.h"

#include <algorithm>
#include <iterator>

namespace trial {

namespace {

bool ReadNames(const loader::LoaderBinding& binding, LayerNames* layers,
               const loader::Reporter& reporter) {
  const auto enumerateLayers = loader::Resolve<PFN_vkEnumerateInstanceLayerProperties>(
      binding, VK_NULL_HANDLE, "vkEnumerateInstanceLayerProperties");
  if (enumerateLayers == nullptr) {
    loader::ReportLine(reporter,
                       "failed to load \"vkEnumerateInstanceLayerProperties\" function from "
                       "\"vkGetInstanceProcAddr\"");
    return false;
  }
  const auto enumerateVersion = loader::Resolve<PFN_vkEnumerateInstanceVersion>(
      binding, VK_NULL_HANDLE, "vkEnumerateInstanceVersion");
  layers->loaderVersion = VK_API_VERSION_1_0;
  if (enumerateVersion != nullptr && enumerateVersion(&layers->loaderVersion) != VK_SUCCESS) {
    layers->loaderVersion = VK_API_VERSION_1_0;
  }
  // A layer installed between the two calls makes the second one incomplete: count again.
  VkResult result = VK_INCOMPLETE;
  std::vector<VkLayerProperties> properties;
  while (result == VK_INCOMPLETE) {
    std::uint32_t count = 0;
    result = enumerateLayers(&count, nullptr);
    if (result == VK_SUCCESS) {
      properties.assign(count, VkLayerProperties{});
      result = enumerateLayers(&count, properties.data());
      properties.resize(count);
    }
  }
  if (result != VK_SUCCESS) {
    loader::ReportResult(reporter, "vkEnumerateInstanceLayerProperties", result);
    return false;
  }
  layers->names.clear();
  for (const VkLayerProperties& layer : properties) {
    // A name ends at its terminator, and never past its field.
    layers->names.emplace_back(
        std::begin(layer.layerName),
        std::find(std::begin(layer.layerName), std::end(layer.layerName), '\0'));
  }
  return true;
}

}  // namespace

bool ReadLayerNames(LayerNames* layers, const loader::Reporter& reporter) {
  loader::LoaderBinding binding{};
  if (!loader::BindLoader(&binding, reporter)) {
    return false;
  }
  const bool read = ReadNames(binding, layers, reporter);
  platform::FreeSharedLibrary(binding.library);
  return read;
}

bool TryInstance(const char* layer, VkResult* result, const loader::Reporter& reporter) {
  loader::LoaderBinding binding{};
  if (!loader::BindLoader(&binding, reporter)) {
    return false;
  }
  VkInstance instance = VK_NULL_HANDLE;
  const bool called = loader::CallCreateInstance(binding, layer, reporter, result, &instance);
  if (called && instance != VK_NULL_HANDLE) {
    const auto destroyInstance =
        loader::Resolve<PFN_vkDestroyInstance>(binding, instance, "vkDestroyInstance");
    if (destroyInstance != nullptr) {
      destroyInstance(instance, nullptr);
    }
  }
  platform::FreeSharedLibrary(binding.library);
  return called;
}

}  // namespace trial
