// Memory running out at each allocation of one query in turn, in two ways: for k = 1, 2, ... the
// k-th allocation fails and either every one after it too, or only it (memory freed meanwhile, a
// smaller block found), until a query completes without reaching k. Task memory and scratch
// memory fail through the platform's test seam, the C++ runtime's through the replaced operator
// new. Every query that ran out must return null after exactly the out-of-memory line (on
// standard error, or handed once to the caller's function), with the loader unloaded and the
// instance it created destroyed; the sanitizers and valgrind show anything it leaked.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <morvantiquell/layer_query.h>

#include "platform.h"
#include "test_platform.h"

namespace {

bool counting = false;      // only the query's own allocations count
bool onlyOneFails = false;  // only the k-th fails, not every one after it too
int allocationsMade = 0;    // by the query under way
int failingAllocation = 0;  // the first that fails, counting from 1

bool NextAllocationFails() {
  if (!counting) {
    return false;
  }
  ++allocationsMade;
  return onlyOneFails ? allocationsMade == failingAllocation : allocationsMade >= failingAllocation;
}

}  // namespace

bool platform::AllocationFails() { return NextAllocationFails(); }

// The whole family of replaceable allocation functions (but the aligned ones, which pair among
// themselves) is replaced, on the C heap, so that no block crosses from the runtime's allocator to
// this one: the standard library may take a buffer from one form and give it back through
// another. (GCC takes free() in a replaced operator delete for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

void* Allocate(std::size_t size) noexcept {
  return NextAllocationFails() ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return Allocate(size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }

namespace {

struct Sweep {
  const char* name;
  std::string script;
  bool destroys;            // whether the loader hands out the command that destroys the instance
  std::string outOfMemory;  // the one line a query that ran out writes
};

// Cases print as their names.
void PrintTo(const Sweep& param, std::ostream* os) { *os << param.name; }

// The caller's function; what it allocates is not the query's.
void Collect(void* context, const char* message) {
  const bool queryCounting = counting;
  counting = false;
  static_cast<std::vector<std::string>*>(context)->emplace_back(message);
  counting = queryCounting;
}

class AllocationSweep : public testing::TestWithParam<std::tuple<Sweep, bool, bool>> {};

// What a query returns when nothing runs out, the other in-process tables check. Made as
// QueryInstanceLayers, or handing its line to the caller's function (reporting).
TEST_P(AllocationSweep, EveryAllocationMayFail) {
  const auto& [sweep, onlyOne, reporting] = GetParam();
  const std::string logPath = "allocation-sweep-calls.log";
  for (int k = 1;; ++k) {
    std::remove(logPath.c_str());
    SetStandInScript(sweep.script + ";log=" + logPath);
    testing::internal::CaptureStderr();
    onlyOneFails = onlyOne;
    failingAllocation = k;
    allocationsMade = 0;
    std::vector<std::string> handed;
    counting = true;
    InstanceLayerList* list =
        reporting ? QueryInstanceLayersReporting(Collect, &handed) : QueryInstanceLayers();
    counting = false;
    const std::string err = testing::internal::GetCapturedStderr();
    std::ifstream logFile(logPath);
    const std::string log{std::istreambuf_iterator<char>(logFile), {}};
    const bool listed = list != nullptr;
    ReleaseInstanceLayerList(list);

    SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
    EXPECT_FALSE(IsVulkanLoaderLoaded());
    EXPECT_EQ(log.find("\nvkDestroyInstance instance=created") != std::string::npos, sweep.destroys)
        << log;
    if (allocationsMade < k) {
      EXPECT_EQ(handed.size(), listed || !reporting ? 0U : 1U);  // a null comes with its reason
      break;  // the query made fewer than k allocations: all of them have failed in turn
    }
    EXPECT_FALSE(listed);
    if (reporting) {
      EXPECT_EQ(err, "");
      ASSERT_EQ(handed.size(), 1U);
      EXPECT_EQ(handed[0] + "\n", sweep.outOfMemory);
    } else {
      EXPECT_EQ(err, sweep.outOfMemory);
    }
  }
  std::remove(logPath.c_str());
}

std::string OutOfMemory(int count) {
  return "failed to allocate memory for " + std::to_string(count) + " instance layers\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, AllocationSweep,
    testing::Combine(testing::Values(Sweep{"ThreeLayers", "layers=A@1,B@2,C@3", true,
                                           OutOfMemory(3)},
                                     Sweep{"NoLayers", "", true, OutOfMemory(0)},
                                     Sweep{"FillingCallFails", "layers=A,B;fill-result=-2", true,
                                           OutOfMemory(2)},
                                     Sweep{"DestroyUnresolved", "layers=A;hide=vkDestroyInstance",
                                           false, OutOfMemory(1)}),
                     // (Not testing::Bool(): GCC 14 and later warn inside std::vector<bool>.)
                     testing::Values(false, true), testing::Values(false, true)),
    [](const testing::TestParamInfo<std::tuple<Sweep, bool, bool>>& param) {
      return std::string(std::get<0>(param.param).name) +
             (std::get<1>(param.param) ? "OnlyTheKthFails" : "FromTheKthOnAllFail") +
             (std::get<2>(param.param) ? "Reporting" : "");
    });

}  // namespace
