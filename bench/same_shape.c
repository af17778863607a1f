/* The floor for the program's own code: the loader calls the program makes, and the list built and
 * released in the shape the program must hand over (a record, the names and versions arrays, and
 * one 256-byte block per name, each its own allocation, taken and given back in the same order),
 * with the names printed from the list by plain C output. What the program costs beyond this is
 * its own. No checks beyond what a crash would need. */
#define VK_NO_PROTOTYPES
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vulkan/vulkan.h>

typedef struct List {
  uint32_t count;
  char** names;
  uint32_t* implementationVersions;
} List;

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

  List* list = malloc(sizeof *list);
  list->count = count;
  list->names = NULL;
  list->implementationVersions = NULL;
  if (count > 0) {
    list->names = malloc(count * sizeof *list->names);
    list->implementationVersions = malloc(count * sizeof *list->implementationVersions);
    VkLayerProperties* layers = calloc(count, sizeof *layers);
    enumerate(&count, layers);
    for (uint32_t i = 0; i < list->count; ++i) {
      list->names[i] = malloc(VK_MAX_EXTENSION_NAME_SIZE);
      memcpy(list->names[i], layers[i].layerName, VK_MAX_EXTENSION_NAME_SIZE);
      list->implementationVersions[i] = layers[i].implementationVersion;
    }
    free(layers);
  }
  PFN_vkDestroyInstance destroy =
      (PFN_vkDestroyInstance)getInstanceProcAddr(instance, "vkDestroyInstance");
  destroy(instance, NULL);
  dlclose(loader);

  for (uint32_t i = 0; i < list->count; ++i) {
    printf("%s\n", list->names[i]);
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    free(list->names[i]);
  }
  free(list->implementationVersions);
  free(list->names);
  free(list);
  return 0;
}
