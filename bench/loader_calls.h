/* The loader calls the program makes, with the same values, for the benchmark's C programs: no
 * checks beyond what a crash would need. */
#ifndef MORVANTIQUELL_BENCH_LOADER_CALLS_H
#define MORVANTIQUELL_BENCH_LOADER_CALLS_H

#define VK_NO_PROTOTYPES
#include <dlfcn.h>
#include <vulkan/vulkan.h>

typedef struct Loader {
  void* library;
  PFN_vkGetInstanceProcAddr getInstanceProcAddr;
  VkInstance instance;
  PFN_vkEnumerateInstanceLayerProperties enumerate;
} Loader;

/* Opens the loader and creates the instance; 0 when either fails. */
static int OpenLoader(Loader* loader) {
  loader->library = dlopen(MORVANTIQUELL_LOADER_FILE_NAME, RTLD_NOW | RTLD_LOCAL);
  if (loader->library == NULL) {
    return 0;
  }
  loader->getInstanceProcAddr =
      (PFN_vkGetInstanceProcAddr)dlsym(loader->library, "vkGetInstanceProcAddr");
  PFN_vkCreateInstance createInstance =
      (PFN_vkCreateInstance)loader->getInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance");
  VkApplicationInfo application = {VK_STRUCTURE_TYPE_APPLICATION_INFO,
                                   NULL,
                                   "Morvantiquell",
                                   VK_MAKE_VERSION(1, 0, 0),
                                   "NoEngine",
                                   VK_MAKE_VERSION(1, 0, 0),
                                   VK_API_VERSION_1_0};
  VkInstanceCreateInfo create = {
      VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO, NULL, 0, &application, 0, NULL, 0, NULL};
  loader->instance = VK_NULL_HANDLE;
  if (createInstance(&create, NULL, &loader->instance) != VK_SUCCESS) {
    return 0;
  }
  loader->enumerate = (PFN_vkEnumerateInstanceLayerProperties)loader->getInstanceProcAddr(
      loader->instance, "vkEnumerateInstanceLayerProperties");
  return 1;
}

/* Destroys the instance and releases the loader. */
static void CloseLoader(Loader* loader) {
  PFN_vkDestroyInstance destroy =
      (PFN_vkDestroyInstance)loader->getInstanceProcAddr(loader->instance, "vkDestroyInstance");
  destroy(loader->instance, NULL);
  dlclose(loader->library);
}

#endif
