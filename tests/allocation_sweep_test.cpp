// Memory running out at each allocation of one query in turn: for k = 1, 2, ... the k-th
// allocation and every one after it fail (task memory and scratch memory through the platform's
// test seam, the C++ runtime's through the replaced operator new), until a query completes
// without reaching k. Every
// query that ran out must return null after exactly one line, with the loader unloaded and the
// instance it created destroyed; the sanitizers and valgrind show anything it leaked.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <string>

#include <morvantiquell/layer_query.h>

#include "platform.h"
#include "test_platform.h"

namespace {

bool counting = false;      // only the query's own allocations count
int allocationsMade = 0;    // by the query under way
int failingAllocation = 0;  // the first that fails, counting from 1

bool NextAllocationFails() { return counting && ++allocationsMade >= failingAllocation; }

}  // namespace

bool platform::AllocationFails() { return NextAllocationFails(); }

// The replacements keep the C heap behind new and delete. (GCC takes free() in a replaced
// operator delete for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  void* block = NextAllocationFails() ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }

namespace {

struct Sweep {
  const char* name;
  std::string script;
  bool destroys;  // whether the loader hands out the command that destroys the instance
};

// Cases print as their names.
void PrintTo(const Sweep& param, std::ostream* os) { *os << param.name; }

class AllocationSweep : public testing::TestWithParam<Sweep> {};

// What a query returns when nothing runs out, the other in-process tables check.
TEST_P(AllocationSweep, EveryAllocationMayFail) {
  const Sweep& sweep = GetParam();
  const std::string logPath = "allocation-sweep-calls.log";
  for (int k = 1;; ++k) {
    std::remove(logPath.c_str());
    SetStandInScript(sweep.script + ";log=" + logPath);
    testing::internal::CaptureStderr();
    failingAllocation = k;
    allocationsMade = 0;
    counting = true;
    InstanceLayerList* list = QueryInstanceLayers();
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
      break;  // the query made fewer than k allocations: all of them have failed in turn
    }
    EXPECT_FALSE(listed);
    EXPECT_EQ(err.rfind("failed to allocate memory for ", 0), 0U) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  }
  std::remove(logPath.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AllocationSweep,
    testing::Values(Sweep{"ThreeLayers", "layers=A@1,B@2,C@3", true}, Sweep{"NoLayers", "", true},
                    Sweep{"FillingCallFails", "layers=A,B;fill-result=-2", true},
                    Sweep{"DestroyUnresolved", "layers=A;hide=vkDestroyInstance", false}),
    [](const testing::TestParamInfo<Sweep>& param) { return param.param.name; });

}  // namespace
