#include "trial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "loader.h"
#include "process.h"

namespace trial {

namespace {

constexpr const char* kNamesTrial = "--trial=names";
constexpr const char* kInstanceTrial = "--trial=instance";
constexpr const char* kLayerPrefix = "--layer=";

struct LayerNames {
  std::uint32_t loaderVersion;  // vkEnumerateInstanceVersion's (1.0.0 where the loader has none)
  std::uint32_t count;
  VkLayerProperties* layers;  // count of them, in the loader's order, from malloc: free them
};

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

// The layers the global vkEnumerateInstanceLayerProperties reports, which runs no layer's
// instance code, and the loader's version; false after a report, with nothing to free.
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

// Creates the instance the listing makes, with `layer` enabled where it is not null, destroys it
// again, and hands back what vkCreateInstance returned; false after a report.
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

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void WriteField(std::FILE* channel, const char* field, std::size_t size) {
  std::fwrite(field, 1, size, channel);
  std::fputc('\0', channel);
}

void WriteField(std::FILE* channel, const char* field) {
  WriteField(channel, field, std::strlen(field));
}

void ReportToChannel(void* context, const char* message) {
  auto* channel = static_cast<std::FILE*>(context);
  WriteField(channel, "report");
  WriteField(channel, message);
}

// Hexadecimal pairs back to bytes, into a block of kNameSize + 1 bytes (the rest zero).
void Unhex(const char* hex, char* name) {
  std::memset(name, 0, kNameSize + 1);
  for (std::size_t i = 0; i < kNameSize && hex[2 * i] != '\0' && hex[(2 * i) + 1] != '\0'; ++i) {
    const char pair[] = {hex[2 * i], hex[(2 * i) + 1], '\0'};
    name[i] = static_cast<char>(std::strtol(pair, nullptr, 16));
  }
}

}  // namespace

std::size_t NameLength(const char* name) {
  const void* end = std::memchr(name, '\0', kNameSize);
  return end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - name)
                        : kNameSize;
}

void MakeArguments(bool instance, const char* layer, Arguments* arguments) {
  std::snprintf(arguments->kind, sizeof arguments->kind, "%s",
                instance ? kInstanceTrial : kNamesTrial);
  arguments->values[0] = arguments->kind;
  arguments->count = 1;
  if (instance && layer != nullptr) {
    char* at = arguments->layer + std::sprintf(arguments->layer, "%s", kLayerPrefix);
    for (std::size_t i = 0; i < NameLength(layer); ++i) {
      at += std::sprintf(at, "%02x", static_cast<unsigned>(static_cast<unsigned char>(layer[i])));
    }
    arguments->values[arguments->count++] = arguments->layer;
  }
}

bool IsTrial(const char* firstArgument) { return StartsWith(firstArgument, "--trial="); }

int Run(int count, char** arguments) {
  std::FILE* channel = platform::TakeTrialChannel();
  if (channel == nullptr) {
    return EXIT_FAILURE;
  }
  const loader::Reporter reporter{ReportToChannel, channel};
  char layer[kNameSize + 1] = "";
  for (int i = 1; i < count; ++i) {
    if (StartsWith(arguments[i], kLayerPrefix)) {
      Unhex(arguments[i] + std::strlen(kLayerPrefix), layer);
    }
  }
  if (std::strcmp(arguments[0], kNamesTrial) == 0) {
    LayerNames listed{};
    if (ReadLayerNames(&listed, reporter)) {
      char version[16];
      std::snprintf(version, sizeof version, "%lu",
                    static_cast<unsigned long>(listed.loaderVersion));
      WriteField(channel, "names");
      WriteField(channel, version);
      for (std::uint32_t i = 0; i < listed.count; ++i) {
        WriteField(channel, listed.layers[i].layerName, NameLength(listed.layers[i].layerName));
      }
      std::free(listed.layers);
    }
  } else {
    VkResult result = VK_SUCCESS;
    if (TryInstance(layer[0] != '\0' ? layer : nullptr, &result, reporter)) {
      char code[16];
      std::snprintf(code, sizeof code, "%d", static_cast<int>(result));
      WriteField(channel, "result");
      WriteField(channel, code);
    }
  }
  return std::fclose(channel) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

bool ReadAnswer(char* text, std::size_t size, Answer* answer) {
  *answer = Answer{};
  answer->text = text;
  // Only whole fields count: a child that ended half-way through one answered less.
  std::size_t fields = 0;
  for (std::size_t at = 0; at < size; ++at) {
    fields += text[at] == '\0' ? 1 : 0;
  }
  if (fields == 0) {
    return true;
  }
  const char* second = text + std::strlen(text) + 1;
  if (std::strcmp(text, "result") == 0 && fields == 2) {
    answer->kind = Answer::kResult;
    answer->result = static_cast<VkResult>(std::strtol(second, nullptr, 10));
  } else if (std::strcmp(text, "report") == 0 && fields == 2) {
    answer->kind = Answer::kReport;
    answer->line = second;
  } else if (std::strcmp(text, "names") == 0 && fields >= 2) {
    answer->count = fields - 2;
    answer->names = static_cast<const char**>(std::malloc((answer->count + 1) * sizeof(char*)));
    if (answer->names == nullptr) {
      FreeAnswer(answer);
      return false;
    }
    answer->kind = Answer::kNames;
    answer->loaderVersion = static_cast<std::uint32_t>(std::strtoul(second, nullptr, 10));
    const char* name = second + std::strlen(second) + 1;
    for (std::size_t i = 0; i < answer->count; ++i, name += std::strlen(name) + 1) {
      answer->names[i] = name;
    }
  }
  return true;
}

void FreeAnswer(Answer* answer) {
  std::free(static_cast<void*>(answer->names));
  std::free(answer->text);
  *answer = Answer{};
}

}  // namespace trial
