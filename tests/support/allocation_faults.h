// Fault injection shared by the scenario tests: every allocation an operation
// makes, failed in turn.
#pragma once

#include "platform/sim/sim.h"

#include <cstddef>
#include <functional>

namespace test_support {

// Runs the operation untouched twice (the first run binds the late-bound
// functions and fills the caches) and counts the allocations of the second;
// then once more for each of them with that one failing. check(n) runs after
// every run, n = 0 for the untouched ones. Returns the count of an untouched run.
inline size_t ForEveryAllocation(const std::function<void()>& operation,
                                 const std::function<void(size_t)>& check)
{
    operation();
    check(0);
    size_t before = sim::AllocationCount();
    operation();
    size_t reached = sim::AllocationCount() - before;
    check(0);
    for (size_t n = 1; n <= reached; ++n) {
        sim::FailAllocation(n);
        operation();
        sim::FailAllocation(0);
        check(n);
    }
    return reached;
}

}  // namespace test_support
