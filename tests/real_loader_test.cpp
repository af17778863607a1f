// The program against the installed Khronos loader and Mesa's CPU driver.
//
// The program's listing is compared with what this process gets from the loader directly, so a
// program built for another machine, started through an emulator with that machine's loader and
// drivers, must list exactly what this machine's loader offers.
//
// Options (after GoogleTest's own):
//   --program=PATH      the program under test
//   --launcher="WORDS"  run the program through this command (qemu)

#include <dlfcn.h>
#define VK_NO_PROTOTYPES
#include <gtest/gtest.h>
#include <vulkan/vulkan.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"

namespace {

std::string program;
std::vector<std::string> launcher;

// The loader's own answer, one name per line, in its order.
std::string EnumerateDirectly() {
  void* loader = dlopen("libvulkan.so.1", RTLD_NOW | RTLD_LOCAL);
  if (loader == nullptr) {
    return "no loader";
  }
  std::string listing;
  const auto getInstanceProcAddr =
      reinterpret_cast<PFN_vkGetInstanceProcAddr>(dlsym(loader, "vkGetInstanceProcAddr"));
  const auto enumerate = reinterpret_cast<PFN_vkEnumerateInstanceLayerProperties>(
      getInstanceProcAddr(VK_NULL_HANDLE, "vkEnumerateInstanceLayerProperties"));
  std::uint32_t count = 0;
  if (enumerate(&count, nullptr) == VK_SUCCESS) {
    std::vector<VkLayerProperties> layers(count);
    if (enumerate(&count, layers.data()) == VK_SUCCESS) {
      for (std::uint32_t i = 0; i < count; ++i) {
        listing += std::string(layers[i].layerName) + "\n";
      }
    }
  }
  dlclose(loader);
  return listing;
}

ProgramResult RunWith(std::vector<std::pair<std::string, std::string>> environment) {
  ProgramRun run;
  run.command = launcher;
  run.command.push_back(program);
  run.environment = std::move(environment);
  return RunProgram(run);
}

TEST(RealLoader, ListsWhatTheLoaderEnumeratesInItsOrder) {
  const std::string expected = EnumerateDirectly();
  const ProgramResult result = RunWith({});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected);
}

TEST(RealLoader, ListsLayersAddedThroughManifests) {
  const std::string folder = MakeTemporaryFolder();
  const std::vector<std::string> names = {"VK_LAYER_MORVANTIQUELL_first",
                                          "VK_LAYER_MORVANTIQUELL_second"};
  std::vector<std::string> manifests;
  for (const std::string& name : names) {
    manifests.push_back(folder + "/" + name + ".json");
    std::FILE* file = std::fopen(manifests.back().c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fprintf(
        file,
        "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"%s\",\"type\":\"GLOBAL\","
        "\"library_path\":\"./libabsent.so\",\"api_version\":\"1.0.0\","
        "\"implementation_version\":\"7\",\"description\":\"test layer\"}}",
        name.c_str());
    std::fclose(file);
  }
  setenv("VK_ADD_LAYER_PATH", folder.c_str(), 1);
  const std::string expected = EnumerateDirectly();
  unsetenv("VK_ADD_LAYER_PATH");
  const ProgramResult result = RunWith({{"VK_ADD_LAYER_PATH", folder}});
  for (const std::string& manifest : manifests) {
    std::remove(manifest.c_str());
  }
  std::remove(folder.c_str());

  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected);
  for (const std::string& name : names) {
    EXPECT_NE(result.out.find(name + "\n"), std::string::npos) << name;
  }
}

TEST(RealLoader, ReportsCreationRefusedWithoutADriver) {
  const ProgramResult result = RunWith({{"VK_DRIVER_FILES", "/nonexistent.json"}});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "vkCreateInstance failed with error code '-9'\n");
  EXPECT_EQ(result.status, 1);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string launcherWords;
  for (int i = 1; i < argc; ++i) {
    if (!TakeOption(argv[i], "--program", &program) &&
        !TakeOption(argv[i], "--launcher", &launcherWords)) {
      std::fprintf(stderr, "unknown option: %s\n", argv[i]);
      return 2;
    }
  }
  launcher = SplitWords(launcherWords);
  return RUN_ALL_TESTS();
}
