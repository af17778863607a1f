// The program against a real Khronos loader (the installed one, or the one LD_LIBRARY_PATH names)
// and Mesa's CPU driver.
//
// The program's listing is compared with what this process gets from the loader directly, so a
// program built for another machine, started through an emulator with that machine's loader and
// drivers, must list exactly what this machine's loader offers.
//
// Options (after GoogleTest's own):
//   --program=PATH      the program under test
//   --launcher="WORDS"  run the program through this command (qemu)
//   --program-bits=N    the program's pointer size in bits (32 or 64), which picks the layers a
//                       loader of its own machine offers it

#include <dlfcn.h>
#define VK_NO_PROTOTYPES
#include <gtest/gtest.h>
#include <vulkan/vulkan.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"

namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;

std::string program;
std::vector<std::string> launcher;
std::string programBits;

// The loader's own answer under ENVIRONMENT (set in this process while it is asked), one name per
// line, in its order; and its version.
std::string EnumerateDirectly(const Environment& environment = {},
                              std::uint32_t* version = nullptr) {
  std::vector<std::optional<std::string>> saved;
  for (const auto& [name, value] : environment) {
    const char* old = std::getenv(name.c_str());
    saved.push_back(old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }
  std::string listing = "no loader";
  if (void* loader = dlopen(MORVANTIQUELL_LOADER_FILE_NAME, RTLD_NOW | RTLD_LOCAL)) {
    listing.clear();
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
    const auto enumerateVersion = reinterpret_cast<PFN_vkEnumerateInstanceVersion>(
        getInstanceProcAddr(VK_NULL_HANDLE, "vkEnumerateInstanceVersion"));
    if (version != nullptr && enumerateVersion != nullptr) {
      enumerateVersion(version);
    }
    dlclose(loader);
  }
  for (std::size_t i = 0; i < saved.size(); ++i) {
    const char* name = environment[i].first.c_str();
    if (const std::optional<std::string>& old = saved[i]) {
      setenv(name, old->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  return listing;
}

ProgramResult RunWith(Environment environment) {
  ProgramRun run;
  run.command = launcher;
  run.command.push_back(program);
  run.environment = std::move(environment);
  return RunProgram(run);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream file(path);
  file << text;
  ASSERT_TRUE(file) << path;
}

// A layer manifest, for the machines of one pointer size where ARCH ("32", "64") names one; its
// library need not exist for the layer to be listed.
void WriteManifest(const std::string& path, const std::string& name, const std::string& arch = "") {
  WriteFile(path, "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"" + name +
                      "\",\"type\":\"GLOBAL\",\"library_path\":\"./libabsent.so\"," +
                      (arch.empty() ? "" : "\"library_arch\":\"" + arch + "\",") +
                      "\"api_version\":\"1.0.0\",\"implementation_version\":\"7\","
                      "\"description\":\"test layer\"}}");
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
  for (const std::string& name : names) {
    WriteManifest(folder + "/" + name + ".json", name);
  }
  const Environment environment = {{"VK_ADD_LAYER_PATH", folder}};
  const std::string expected = EnumerateDirectly(environment);
  const ProgramResult result = RunWith(environment);
  std::filesystem::remove_all(folder);

  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected);
  for (const std::string& name : names) {
    EXPECT_NE(result.out.find(name + "\n"), std::string::npos) << name;
  }
}

// A layer marked for 32-bit or 64-bit programs is offered only to programs of that size (an
// overlay ships one manifest for each): the program lists what its own machine's loader does,
// which for a 32-bit program is not what this 64-bit process sees.
TEST(RealLoader, ListsTheLayersMarkedForItsPointerSize) {
  struct {
    std::string name, arch, listedFor;  // listed by programs of these sizes
  } const rows[] = {{"VK_LAYER_MORVANTIQUELL_for_32", "32", "32"},
                    {"VK_LAYER_MORVANTIQUELL_for_64", "64", "64"},
                    {"VK_LAYER_MORVANTIQUELL_for_any", "", "32 64"}};
  ASSERT_TRUE(programBits == "32" || programBits == "64") << "--program-bits=" << programBits;
  const std::string folder = MakeTemporaryFolder();
  for (const auto& row : rows) {
    WriteManifest(folder + "/" + row.name + ".json", row.name, row.arch);
  }
  const ProgramResult result = RunWith({{"VK_ADD_LAYER_PATH", folder}});
  std::filesystem::remove_all(folder);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  for (const auto& row : rows) {
    EXPECT_EQ(result.out.find(row.name + "\n") != std::string::npos,
              row.listedFor.find(programBits) != std::string::npos)
        << row.name << " in:\n"
        << result.out;
  }
}

// A loader settings file (what Vulkan Configurator writes to turn layers on and off and order
// them), in HOME: the program lists what the loader enumerates under it. Loader 1.3.239 reads
// none, and there it changes nothing; later ones came to read it, and every 1.4 loader does, which
// shows in what it lists (a loader in between is only compared). Layers A to C come through
// VK_ADD_LAYER_PATH, D and E only through the settings file.
struct SettingsCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> layers;  // control, layer (or the location)
  std::string before, after, removed;  // where it is read: the layers listed before the rest,
                                       // after them, and taken out of them
};

TEST(RealLoader, ListsWhatALoaderSettingsFileLeaves) {
  const SettingsCase cases[] = {
      {"turns a layer off", {{"off", "B"}, {"unordered_layer_location", ""}}, "", "", "B"},
      {"turns one on and first", {{"on", "D"}, {"unordered_layer_location", ""}}, "D", "", ""},
      {"leaves the rest to unordered_layer_location",
       {{"on", "D"}, {"unordered_layer_location", ""}, {"on", "E"}},
       "D",
       "E",
       ""},
  };
  const std::string folder = MakeTemporaryFolder();
  const auto layer = [](const std::string& letter) { return "VK_LAYER_MORVANTIQUELL_" + letter; };
  const auto manifest = [&](const std::string& letter) {
    return folder + (letter < "D" ? "/added/" : "/own/") + letter + ".json";
  };
  for (const char* letter : {"A", "B", "C", "D", "E"}) {
    WriteManifest(manifest(letter), layer(letter));
  }
  const std::string home = folder + "/home";
  const Environment environment = {{"VK_ADD_LAYER_PATH", folder + "/added"},
                                   {"HOME", home},
                                   {"XDG_DATA_HOME", home + "/.local/share"}};
  std::uint32_t version = 0;
  const std::string without = EnumerateDirectly(environment, &version);
  const bool reads = version >= VK_MAKE_API_VERSION(0, 1, 4, 0);
  const bool ignores = version <= VK_MAKE_API_VERSION(0, 1, 3, 239);

  for (const SettingsCase& settings : cases) {
    SCOPED_TRACE(settings.name);
    std::string entries;
    for (const auto& [control, letter] : settings.layers) {
      entries += (entries.empty() ? "" : ",") + ("{\"control\":\"" + control + "\"");
      if (!letter.empty()) {
        entries += ",\"name\":\"" + layer(letter) + "\",\"path\":\"" + manifest(letter) +
                   "\",\"treat_as_implicit_manifest\":false";
      }
      entries += "}";
    }
    WriteFile(home + "/.local/share/vulkan/loader_settings.d/vk_loader_settings.json",
              "{\"file_format_version\":\"1.0.1\",\"settings\":{\"layers\":[" + entries + "]}}");
    const std::string expected = EnumerateDirectly(environment);
    const ProgramResult result = RunWith(environment);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
    std::string rest = without;
    if (!settings.removed.empty()) {
      const std::size_t at = rest.find(layer(settings.removed) + "\n");
      ASSERT_NE(at, std::string::npos) << rest;
      rest.erase(at, layer(settings.removed).size() + 1);
    }
    const auto line = [&](const std::string& letter) {
      return letter.empty() ? std::string() : layer(letter) + "\n";
    };
    if (reads) {
      EXPECT_EQ(result.out, line(settings.before) + rest + line(settings.after));
    } else if (ignores) {
      EXPECT_EQ(result.out, without);
    }
  }
  std::filesystem::remove_all(folder);
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
  if (!TakeOptions(argc, argv,
                   {{"--program", &program},
                    {"--launcher", &launcherWords},
                    {"--program-bits", &programBits}})) {
    return 2;
  }
  launcher = SplitWords(launcherWords);
  return RUN_ALL_TESTS();
}
