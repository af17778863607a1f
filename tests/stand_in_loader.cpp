// A stand-in for the Vulkan loader, built as a shared library under the loader's file name.
//
// It exports vkGetInstanceProcAddr (under another name when built with
// STAND_IN_WITHOUT_ENTRY_POINT; calling a function nothing defines when built with
// STAND_IN_CALLS_UNDEFINED) and serves
// vkCreateInstance, vkEnumerateInstanceLayerProperties and vkDestroyInstance as scripted by the
// environment variable STAND_IN_LOADER_SCRIPT, a list of ';'-separated items:
//
//   log=PATH                 append one line per call received to PATH
//   create=N                 vkCreateInstance returns N
//   create-unless=VARIABLE   but succeeds where VARIABLE is set (a dying layer's own switch)
//   null-instance            vkCreateInstance succeeds without writing the instance
//   instance-on-failure      vkCreateInstance writes the instance even when it fails
//   hide=NAME                vkGetInstanceProcAddr returns null for NAME (may repeat)
//   count-result=N           the counting call returns N
//   fill-result=N            the filling call returns N
//   layers=L,L,...           the layers; L is NAME or NAME@VERSION, and a NAME of the form c*N
//                            stands for N copies of c (N = 256 leaves no terminator)
//   generate=N               N layers called VK_LAYER_STAND_IN_<i>, version i
//   count=N                  the count the counting call reports, whatever the layers
//   fill-writes=N            how many elements the filling call writes
//   version=MAJOR.MINOR.PATCH
//                            vkEnumerateInstanceVersion, resolved without an instance, gives it
//                            (where not given, the stand-in has none, as a 1.0 loader)
//
// Bytes after a name's terminator are filled with kTailByte, so that a copy of less than the
// whole block shows. The script is read again whenever a command is resolved without an
// instance, which is how every query starts.

#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#define STAND_IN_EXPORT extern "C" __declspec(dllexport)
#else
#define STAND_IN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr unsigned char kTailByte = 0xA5;

struct Layer {
  std::string name;  // up to 256 bytes; 256 means no terminator
  std::uint32_t version;
};

struct Script {
  std::string log;
  VkResult createResult = VK_SUCCESS;
  bool nullInstance = false;
  bool instanceOnFailure = false;
  std::vector<std::string> hidden;
  VkResult countResult = VK_SUCCESS;
  VkResult fillResult = VK_SUCCESS;
  std::vector<Layer> layers;
  std::uint32_t generated = 0;
  bool generate = false;
  std::uint32_t count = 0;
  bool countGiven = false;
  std::uint32_t fillWrites = 0;
  bool fillWritesGiven = false;
  std::uint32_t version = 0;
};

Script script;
int instanceObject;  // the created instance is this object's address

VkInstance CreatedInstance() { return reinterpret_cast<VkInstance>(&instanceObject); }

// Not std::to_string: GCC marks its digit table as a unique symbol, and such a symbol keeps the
// library loaded after it is released, which the tests check it is not.
std::string Number(long long value) {
  char text[24];
  (void)std::snprintf(text, sizeof text, "%lld", value);
  return text;
}

std::uint32_t ToCount(const std::string& text) {
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

VkResult ToResult(const std::string& text) {
  return static_cast<VkResult>(std::strtol(text.c_str(), nullptr, 0));
}

Layer ParseLayer(const std::string& text) {
  Layer layer{text, 0};
  const std::size_t at = text.rfind('@');
  if (at != std::string::npos) {
    layer.name = text.substr(0, at);
    layer.version = ToCount(text.substr(at + 1));
  }
  if (layer.name.size() >= 3 && layer.name[1] == '*') {
    layer.name =
        std::string(std::min<std::size_t>(ToCount(layer.name.substr(2)), 256), layer.name[0]);
  }
  return layer;
}

void ReadScript() {
  script = Script{};
  const char* text = std::getenv("STAND_IN_LOADER_SCRIPT");
  std::string rest = text != nullptr ? text : "";
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    const std::string item = rest.substr(0, end);
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
    const std::size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    if (key == "log") {
      script.log = value;
    } else if (key == "create") {
      script.createResult = ToResult(value);
    } else if (key == "create-unless") {
      script.createResult =
          std::getenv(value.c_str()) != nullptr ? VK_SUCCESS : script.createResult;
    } else if (key == "null-instance") {
      script.nullInstance = true;
    } else if (key == "instance-on-failure") {
      script.instanceOnFailure = true;
    } else if (key == "hide") {
      script.hidden.push_back(value);
    } else if (key == "count-result") {
      script.countResult = ToResult(value);
    } else if (key == "fill-result") {
      script.fillResult = ToResult(value);
    } else if (key == "layers") {
      std::size_t start = 0;
      for (std::size_t comma; (comma = value.find(',', start)) != std::string::npos;
           start = comma + 1) {
        script.layers.push_back(ParseLayer(value.substr(start, comma - start)));
      }
      script.layers.push_back(ParseLayer(value.substr(start)));
    } else if (key == "generate") {
      script.generate = true;
      script.generated = ToCount(value);
    } else if (key == "count") {
      script.countGiven = true;
      script.count = ToCount(value);
    } else if (key == "version") {
      std::uint32_t parts[3] = {};
      const char* at = value.c_str();
      for (std::uint32_t& part : parts) {
        char* next = nullptr;
        part = static_cast<std::uint32_t>(std::strtoul(at, &next, 10));
        at = *next == '.' ? next + 1 : next;
      }
      const auto [major, minor, patch] = parts;
      script.version = VK_MAKE_API_VERSION(0, major, minor, patch);
    } else if (key == "fill-writes") {
      script.fillWritesGiven = true;
      script.fillWrites = ToCount(value);
    }
  }
}

std::uint32_t LayerCount() {
  return script.generate ? script.generated : static_cast<std::uint32_t>(script.layers.size());
}

void WriteLayer(std::uint32_t index, VkLayerProperties* out) {
  std::string name;
  std::uint32_t version = 0;
  if (script.generate) {
    name = "VK_LAYER_STAND_IN_" + Number(index);
    version = index;
  } else if (index < script.layers.size()) {
    name = script.layers[index].name;
    version = script.layers[index].version;
  }
  std::memset(out->layerName, kTailByte, sizeof out->layerName);
  std::memcpy(out->layerName, name.data(), name.size());
  if (name.size() < sizeof out->layerName) {
    out->layerName[name.size()] = '\0';
  }
  out->specVersion = VK_API_VERSION_1_0;
  out->implementationVersion = version;
  std::snprintf(out->description, sizeof out->description, "stand-in layer %u", index);
}

void Record(const std::string& line) {
  if (script.log.empty()) {
    return;
  }
  if (std::FILE* file = std::fopen(script.log.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

std::string Describe(const void* pointer) { return pointer == nullptr ? "null" : "set"; }

std::string Describe(VkInstance instance) {
  if (instance == VK_NULL_HANDLE) {
    return "null";
  }
  return instance == CreatedInstance() ? "created" : "other";
}

std::string Describe(const char* text) {
  return text == nullptr ? "null" : '"' + std::string(text) + '"';
}

VKAPI_ATTR VkResult VKAPI_CALL CreateInstance(const VkInstanceCreateInfo* info,
                                              const VkAllocationCallbacks* allocator,
                                              VkInstance* instance) {
  const VkApplicationInfo* app = info->pApplicationInfo;
  std::string line = "vkCreateInstance sType=" + Number(info->sType) +
                     " pNext=" + Describe(info->pNext) + " flags=" + Number(info->flags) +
                     " layers=" + Number(info->enabledLayerCount) + "/" +
                     Describe(static_cast<const void*>(info->ppEnabledLayerNames)) +
                     " extensions=" + Number(info->enabledExtensionCount) + "/" +
                     Describe(static_cast<const void*>(info->ppEnabledExtensionNames)) +
                     " allocator=" + Describe(allocator);
  if (app == nullptr) {
    line += " application=null";
  } else {
    line +=
        " application.sType=" + Number(app->sType) + " application.pNext=" + Describe(app->pNext) +
        " name=" + Describe(app->pApplicationName) + " version=" + Number(app->applicationVersion) +
        " engine=" + Describe(app->pEngineName) + " engineVersion=" + Number(app->engineVersion) +
        " api=" + Number(app->apiVersion);
  }
  Record(line);
  if ((script.createResult == VK_SUCCESS || script.instanceOnFailure) && !script.nullInstance) {
    *instance = CreatedInstance();
  }
  return script.createResult;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceLayerProperties(std::uint32_t* count,
                                                                VkLayerProperties* properties) {
  std::string state = "null";
  if (properties != nullptr) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(properties);
    const bool zero = std::all_of(bytes, bytes + (std::size_t{*count} * sizeof *properties),
                                  [](unsigned char b) { return b == 0; });
    state = zero ? "zeroed" : "dirty";
  }
  Record("vkEnumerateInstanceLayerProperties count=" + Number(*count) + " properties=" + state);
  if (properties == nullptr) {
    *count = script.countGiven ? script.count : LayerCount();
    return script.countResult;
  }
  if (script.fillResult != VK_SUCCESS && script.fillResult != VK_INCOMPLETE) {
    return script.fillResult;
  }
  std::uint32_t writes = std::min(*count, LayerCount());
  if (script.fillWritesGiven) {
    writes = std::min(writes, script.fillWrites);
  }
  for (std::uint32_t i = 0; i < writes; ++i) {
    WriteLayer(i, &properties[i]);
  }
  *count = writes;
  return script.fillResult;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceVersion(std::uint32_t* version) {
  Record("vkEnumerateInstanceVersion");
  *version = script.version;
  return VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL DestroyInstance(VkInstance instance,
                                           const VkAllocationCallbacks* allocator) {
  Record("vkDestroyInstance instance=" + Describe(instance) + " allocator=" + Describe(allocator));
}

bool Hidden(const char* name) {
  return std::find(script.hidden.begin(), script.hidden.end(), name) != script.hidden.end();
}

}  // namespace

// On Linux the stand-in carries its own C++ runtime (see CMakeLists.txt), whose pool for
// exceptions would be lost each time the stand-in is unloaded: give it back then, so that the
// leak checkers see nothing.
#if defined(__GLIBCXX__) && !defined(_WIN32)
namespace __gnu_cxx {  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,misc-use-internal-linkage)
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {
__attribute__((destructor)) void ReleaseRuntimePool() { __gnu_cxx::__freeres(); }
}  // namespace
#endif

// The build without the entry point exports the same function under another name.
#ifdef STAND_IN_WITHOUT_ENTRY_POINT
#define STAND_IN_ENTRY_POINT StandInGetInstanceProcAddr
#else
#define STAND_IN_ENTRY_POINT vkGetInstanceProcAddr
#endif

STAND_IN_EXPORT VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL STAND_IN_ENTRY_POINT(VkInstance instance,
                                                                              const char* name);

#ifdef STAND_IN_CALLS_UNDEFINED
extern "C" void StandInFunctionNothingDefines();
#endif

STAND_IN_EXPORT VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL STAND_IN_ENTRY_POINT(VkInstance instance,
                                                                              const char* name) {
#ifdef STAND_IN_CALLS_UNDEFINED
  StandInFunctionNothingDefines();
#endif
  if (instance == VK_NULL_HANDLE) {
    ReadScript();
  }
  Record("vkGetInstanceProcAddr instance=" + Describe(instance) + " name=" + Describe(name));
  if (Hidden(name)) {
    return nullptr;
  }
  if (std::strcmp(name, "vkCreateInstance") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(&CreateInstance);
  }
  if (std::strcmp(name, "vkEnumerateInstanceLayerProperties") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(&EnumerateInstanceLayerProperties);
  }
  if (std::strcmp(name, "vkDestroyInstance") == 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(&DestroyInstance);
  }
  if (std::strcmp(name, "vkEnumerateInstanceVersion") == 0 && instance == VK_NULL_HANDLE &&
      script.version != 0) {
    return reinterpret_cast<PFN_vkVoidFunction>(&EnumerateInstanceVersion);
  }
  return nullptr;
}
