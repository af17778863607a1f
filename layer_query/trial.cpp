#include "trial.h"

#include <cstdlib>

namespace trial {

namespace {

bool ReadNames(const loader::LoaderBinding& binding, LayerNames* layers,
               const loader::Reporter& reporter) {
  const auto enumerateLayers = loader::ResolveEnumerateLayers(binding, VK_NULL_HANDLE, reporter);
  if (enumerateLayers == nullptr) {
    return false;
  }
  const auto enumerateVersion = loader::Resolve<PFN_vkEnumerateInstanceVersion>(
      binding, VK_NULL_HANDLE, "vkEnumerateInstanceVersion");
  layers->loaderVersion = VK_API_VERSION_1_0;
  if (enumerateVersion != nullptr && enumerateVersion(&layers->loaderVersion) != VK_SUCCESS) {
    layers->loaderVersion = VK_API_VERSION_1_0;
  }
  // A layer installed between the two calls makes the second one incomplete: count again, a few
  // times.
  VkResult result = VK_INCOMPLETE;
  for (int attempt = 0; attempt < 4 && result == VK_INCOMPLETE; ++attempt) {
    std::free(layers->layers);
    layers->layers = nullptr;
    layers->count = 0;
    result = enumerateLayers(&layers->count, nullptr);
    if (result != VK_SUCCESS || layers->count == 0) {
      continue;
    }
    layers->layers =
        static_cast<VkLayerProperties*>(std::calloc(layers->count, sizeof(VkLayerProperties)));
    if (layers->layers == nullptr) {
      loader::ReportOutOfMemory(reporter, layers->count);
      return false;
    }
    result = enumerateLayers(&layers->count, layers->layers);
  }
  if (result != VK_SUCCESS) {
    std::free(layers->layers);
    layers->layers = nullptr;
    loader::ReportResult(reporter, "vkEnumerateInstanceLayerProperties", result);
    return false;
  }
  return true;
}

}  // namespace

bool ReadLayerNames(LayerNames* layers, const loader::Reporter& reporter) {
  layers->count = 0;
  layers->layers = nullptr;
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
