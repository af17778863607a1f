/* The floor: the loader calls the program makes, with the same values, and nothing else. No
 * checks beyond what a crash would need, no list, output with printf. */
#define VK_NO_PROTOTYPES
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <vulkan/vulkan.h>

int main(void) {
  void* loader = dlopen("libvulkan.so.1", RTLD_NOW | RTLD_LOCAL);
  if (loader == NULL) {
    return 1;
  }
  PFN_vkGetInstanceProcAddr getInstanceProcAddr =
      (PFN_vkGetInstanceProcAddr)dlsym(loader, "vkGetInstanceProcAddr");
  PFN_vkCreateInstance createInstance =
      (PFN_vkCreateInstance)getInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance");

  VkApplicationInfo application = {VK_STRUCTURE_TYPE_APPLICATION_INFO,
                                   NULL,
                                   "Morvantiquell",
                                   VK_MAKE_VERSION(1, 0, 0),
                                   "NoEngine",
                                   VK_MAKE_VERSION(1, 0, 0),
                                   VK_API_VERSION_1_0};
  VkInstanceCreateInfo create = {
      VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO, NULL, 0, &application, 0, NULL, 0, NULL};
  VkInstance instance = VK_NULL_HANDLE;
  if (createInstance(&create, NULL, &instance) != VK_SUCCESS) {
    return 1;
  }
  PFN_vkEnumerateInstanceLayerProperties enumerate =
      (PFN_vkEnumerateInstanceLayerProperties)getInstanceProcAddr(
          instance, "vkEnumerateInstanceLayerProperties");
  uint32_t count = 0;
  enumerate(&count, NULL);
  VkLayerProperties* layers = calloc(count, sizeof *layers);
  enumerate(&count, layers);
  for (uint32_t i = 0; i < count; ++i) {
    printf("%s\n", layers[i].layerName);
  }
  free(layers);
  PFN_vkDestroyInstance destroy =
      (PFN_vkDestroyInstance)getInstanceProcAddr(instance, "vkDestroyInstance");
  destroy(instance, NULL);
  dlclose(loader);
  return 0;
}
