// The query called in process against the stand-in loader, which the test process finds
// through the platform's library search path. Each case scripts the stand-in through its
// environment variable.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <morvantiquell/layer_query.h>

#include "test_platform.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it relies on.
#include <objbase.h>
#endif

namespace {

constexpr unsigned char kTailByte = 0xA5;  // what the stand-in writes after a terminator

struct Layer {
  std::string name;  // as the stand-in writes it; 256 bytes means no terminator
  std::uint32_t version;
  bool written;  // false: the filling call left the element alone
};

// The 256-byte block a layer must arrive as: every byte of the loader's name field.
std::string ExpectedBlock(const Layer& layer) {
  if (!layer.written) {
    return std::string(MORVANTIQUELL_LAYER_NAME_SIZE, '\0');
  }
  std::string block = layer.name;
  if (block.size() < MORVANTIQUELL_LAYER_NAME_SIZE) {
    block += '\0';
  }
  block.resize(MORVANTIQUELL_LAYER_NAME_SIZE, static_cast<char>(kTailByte));
  return block;
}

struct Listing {
  const char* name;
  std::string script;
  std::vector<Layer> layers;
  std::string err;
};

// Cases print as their names.
void PrintTo(const Listing& param, std::ostream* os) { *os << param.name; }

// The lines a query hands to the caller's function, in order.
void Collect(void* context, const char* message) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(message);
}

// The query as QueryInstanceLayers or, where `handed` is not null, with its failure line handed
// to Collect instead.
InstanceLayerList* Query(std::vector<std::string>* handed) {
  return handed != nullptr ? QueryInstanceLayersReporting(Collect, handed) : QueryInstanceLayers();
}

class QueryListing : public testing::TestWithParam<Listing> {};

// Both ways; handed a function, a query that returns a list calls it never, and writes nothing
// on standard error (not even that the instance was not destroyed).
TEST_P(QueryListing, HoldsEveryLayerWholeAndReleasesTheLoader) {
  const Listing& listing = GetParam();
  for (const bool reporting : {false, true}) {
    SCOPED_TRACE(reporting ? "reporting" : "on standard error");
    SetStandInScript(listing.script);
    std::vector<std::string> handed;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    InstanceLayerList* list = Query(reporting ? &handed : nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), reporting ? "" : listing.err);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(handed.empty());
    EXPECT_FALSE(IsVulkanLoaderLoaded());

    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, listing.layers.size());
    if (list->count == 0) {
      EXPECT_EQ(list->names, nullptr);
      EXPECT_EQ(list->implementationVersions, nullptr);
    } else {
      ASSERT_NE(list->names, nullptr);
      ASSERT_NE(list->implementationVersions, nullptr);
    }
    for (std::uint32_t i = 0; i < list->count; ++i) {
      ASSERT_NE(list->names[i], nullptr) << "layer " << i;
      EXPECT_EQ(std::string(list->names[i], MORVANTIQUELL_LAYER_NAME_SIZE),
                ExpectedBlock(listing.layers[i]))
          << "layer " << i;
      EXPECT_EQ(list->implementationVersions[i], listing.layers[i].version) << "layer " << i;
    }
    ReleaseInstanceLayerList(list);
  }
}

const std::string kDestroyUnresolved =
    "failed to load \"vkDestroyInstance\" function from \"vkGetInstanceProcAddr\"\n";

INSTANTIATE_TEST_SUITE_P(Table, QueryListing,
                         testing::Values(Listing{"NoLayers", "", {}, ""},
                                         Listing{"SeveralWithVersionsPassedThrough",
                                                 "layers=VK_LAYER_B@7,,x*255@4294967295,y*256@0",
                                                 {{"VK_LAYER_B", 7, true},
                                                  {"", 0, true},
                                                  {std::string(255, 'x'), 4294967295U, true},
                                                  {std::string(256, 'y'), 0, true}},
                                                 ""},
                                         Listing{"FillingCallWritesFewer",
                                                 "layers=A@1,B@2,C@3;fill-writes=1",
                                                 {{"A", 1, true}, {"", 0, false}, {"", 0, false}},
                                                 ""},
                                         Listing{"DestroyUnresolved",
                                                 "layers=A@1;hide=vkDestroyInstance",
                                                 {{"A", 1, true}},
                                                 kDestroyUnresolved}),
                         [](const testing::TestParamInfo<Listing>& param) {
                           return param.param.name;
                         });

struct Failure {
  const char* name;
  std::string script;
  const char* loadedBefore = nullptr;  // a loader the test holds loaded under the loader's name
};

// Cases print as their names.
void PrintTo(const Failure& param, std::ostream* os) { *os << param.name; }

class QueryFailure : public testing::TestWithParam<Failure> {};

// Both ways: one line on standard error, or that same line, without its line feed, handed once
// to the caller's function and nothing on standard error.
TEST_P(QueryFailure, ReturnsNullAfterOneLineAndReleasesTheLoader) {
  std::string line;
  for (const bool reporting : {false, true}) {
    SCOPED_TRACE(reporting ? "reporting" : "on standard error");
    SetStandInScript(GetParam().script);
    void* held =
        GetParam().loadedBefore != nullptr ? LoadLibraryAt(GetParam().loadedBefore) : nullptr;
    std::vector<std::string> handed;
    testing::internal::CaptureStderr();
    InstanceLayerList* list = Query(reporting ? &handed : nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    if (held != nullptr) {
      FreeLibraryAt(held);  // what stays loaded now, the query kept
    }
    EXPECT_EQ(list, nullptr);
    ReleaseInstanceLayerList(list);  // accepts null
    EXPECT_FALSE(IsVulkanLoaderLoaded());
    if (!reporting) {
      ASSERT_FALSE(err.empty());
      EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
      line = err;
    } else {
      EXPECT_EQ(err, "");
      ASSERT_EQ(handed.size(), 1U);
      EXPECT_EQ(handed[0] + "\n", line);
    }
  }
}

// A function that keeps its lines elsewhere, and so takes no context, is handed its line too.
std::vector<std::string> handedWithoutContext;
void CollectWithoutContext(void* context, const char* message) {
  if (context == nullptr) {
    handedWithoutContext.emplace_back(message);
  }
}

TEST(QueryReporting, HandsTheLineOnWithANullContext) {
  SetStandInScript("create=-9");
  testing::internal::CaptureStderr();
  EXPECT_EQ(QueryInstanceLayersReporting(CollectWithoutContext, nullptr), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(handedWithoutContext,
            std::vector<std::string>{"vkCreateInstance failed with error code '-9'"});
}

INSTANTIATE_TEST_SUITE_P(
    Table, QueryFailure,
    testing::Values(Failure{"EntryPointMissing", "", STAND_IN_WITHOUT_ENTRY_POINT},
                    Failure{"CreateUnresolved", "hide=vkCreateInstance"},
                    Failure{"CreateRefused", "create=-9"}, Failure{"NullInstance", "null-instance"},
                    Failure{"EnumerateUnresolved", "hide=vkEnumerateInstanceLayerProperties"},
                    Failure{"CountingCallFails", "count-result=-1;hide=vkDestroyInstance"},
                    Failure{"FillingCallFails", "layers=A,B;fill-result=-2"},
                    Failure{"FillingCallIncomplete", "layers=A,B;fill-result=5"},
                    Failure{"AbsurdCount", "count=0xFFFFFFFF"}),
    [](const testing::TestParamInfo<Failure>& param) { return param.param.name; });

#ifdef _WIN32
// COM's own watch on its task allocator: every block it hands out or takes back while the spy is
// registered passes through the spy, and revoking the spy fails while a block it saw is still out.
struct TaskAllocatorSpy : IMallocSpy {
  int allocated = 0;
  int freed = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    const bool known = IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMallocSpy));
    *object = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    allocated += block != nullptr ? 1 : 0;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL /*spyed*/) override {
    freed += block != nullptr ? 1 : 0;
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL /*spyed*/) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock,
                                      BOOL /*spyed*/) override {
    *newBlock = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL /*spyed*/) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL /*spyed*/) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL /*spyed*/) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL /*spyed*/) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void* /*block*/, BOOL /*spyed*/, int actual) override {
    return actual;
  }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

// Callers may free a list's blocks with CoTaskMemFree themselves: they must come from COM's task
// allocator, and the list's release must give every one back to it.
TEST(TaskAllocator, HandsOutEveryBlockOfAListAndTakesEveryOneBack) {
  static TaskAllocatorSpy spy;  // COM keeps a spy it could not revoke
  SetStandInScript("layers=A@1,B@2");
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  InstanceLayerList* list = QueryInstanceLayers();
  const int allocated = spy.allocated;
  ReleaseInstanceLayerList(list);
  const HRESULT revoked = CoRevokeMallocSpy();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(allocated, 5) << "the record, the names array, the versions array and two names";
  EXPECT_EQ(spy.freed, allocated);
  EXPECT_EQ(revoked, S_OK) << "blocks are still out";
}
#endif

}  // namespace
