// A Vulkan instance layer for the check program's tests, built once for each behaviour of its
// vkCreateInstance (TEST_LAYER_BEHAVIOUR):
//   passes   hands the call on down the chain, as a layer does
//   prints   the same, after a line on standard output
//   escapes  the same, after starting a process that leaves its process group (setsid) and
//            sleeps (Linux)
//   refuses  returns VK_ERROR_INITIALIZATION_FAILED
//   dies     writes through a null pointer
//   aborts   calls abort
//   exits    calls exit with TEST_LAYER_EXIT_STATUS (3 where it is not set)
//   hangs    never returns; on Linux it first starts a process that sleeps
// Where TEST_LAYER_PIDS names a file, a layer that starts a process writes its own id and the
// other's to it, so that a test can see that the check ends everything a trial started.
// The loader finds it through a manifest; it exports vkGetInstanceProcAddr alone.

#define VK_NO_PROTOTYPES
#include <vulkan/vk_layer.h>
#include <vulkan/vulkan.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#define TEST_LAYER_EXPORT extern "C" __declspec(dllexport)
#else
#include <unistd.h>
#define TEST_LAYER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

PFN_vkGetInstanceProcAddr next = nullptr;     // the next layer's, or the loader's
PFN_vkDestroyInstance nextDestroy = nullptr;  // taken when the instance is made, as the loader asks
int* volatile nowhere =
    nullptr;  // read at run time, so that no compiler turns the write into a trap

void StartSleeperAndSayWho(bool leaveGroup) {
#ifndef _WIN32
  const pid_t sleeper = fork();
  if (sleeper == 0) {
    if (leaveGroup) {
      setsid();
    }
    for (;;) {
      pause();
    }
  }
  if (const char* path = std::getenv("TEST_LAYER_PIDS")) {
    if (std::FILE* file = std::fopen(path, "a")) {
      std::fprintf(file, "%ld %ld\n", static_cast<long>(getpid()), static_cast<long>(sleeper));
      std::fclose(file);
    }
  }
#else
  (void)leaveGroup;
#endif
}

VKAPI_ATTR VkResult VKAPI_CALL CreateInstance(const VkInstanceCreateInfo* info,
                                              const VkAllocationCallbacks* allocator,
                                              VkInstance* instance) {
  auto* link = static_cast<VkLayerInstanceCreateInfo*>(const_cast<void*>(info->pNext));
  while (link != nullptr && (link->sType != VK_STRUCTURE_TYPE_LOADER_INSTANCE_CREATE_INFO ||
                             link->function != VK_LAYER_LINK_INFO)) {
    link = static_cast<VkLayerInstanceCreateInfo*>(const_cast<void*>(link->pNext));
  }
  if (link == nullptr) {
    return VK_ERROR_INITIALIZATION_FAILED;
  }
  next = link->u.pLayerInfo->pfnNextGetInstanceProcAddr;
  link->u.pLayerInfo = link->u.pLayerInfo->pNext;  // the next layer's link, for the next layer

  const char* behaviour = TEST_LAYER_BEHAVIOUR;
  if (std::strcmp(behaviour, "refuses") == 0) {
    return VK_ERROR_INITIALIZATION_FAILED;
  }
  if (std::strcmp(behaviour, "dies") == 0) {
    *nowhere = 1;
  }
  if (std::strcmp(behaviour, "aborts") == 0) {
    std::abort();
  }
  if (std::strcmp(behaviour, "exits") == 0) {
    const char* status = std::getenv("TEST_LAYER_EXIT_STATUS");
    std::exit(status != nullptr ? static_cast<int>(std::strtol(status, nullptr, 10)) : 3);
  }
  if (std::strcmp(behaviour, "prints") == 0) {
    std::printf("a layer's line on standard output\n");
    std::fflush(stdout);
  }
  if (std::strcmp(behaviour, "escapes") == 0) {
    StartSleeperAndSayWho(true);
  }
  if (std::strcmp(behaviour, "hangs") == 0) {
    StartSleeperAndSayWho(false);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  const auto create = reinterpret_cast<PFN_vkCreateInstance>(next(nullptr, "vkCreateInstance"));
  const VkResult result = create(info, allocator, instance);
  if (result == VK_SUCCESS) {
    nextDestroy = reinterpret_cast<PFN_vkDestroyInstance>(next(*instance, "vkDestroyInstance"));
  }
  return result;
}

VKAPI_ATTR void VKAPI_CALL DestroyInstance(VkInstance instance,
                                           const VkAllocationCallbacks* allocator) {
  nextDestroy(instance, allocator);
}

}  // namespace

// The layer's one export, by which the loader finds the rest.
TEST_LAYER_EXPORT VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL
vkGetInstanceProcAddr(VkInstance instance, const char* name);

TEST_LAYER_EXPORT VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL
vkGetInstanceProcAddr(VkInstance instance, const char* name) {
  if (std::strcmp(name, "vkGetInstanceProcAddr") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(vkGetInstanceProcAddr);
  }
  if (std::strcmp(name, "vkCreateInstance") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(CreateInstance);
  }
  if (std::strcmp(name, "vkDestroyInstance") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(DestroyInstance);
  }
  return next != nullptr ? next(instance, name) : nullptr;
}
