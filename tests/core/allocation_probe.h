// Watches the sizes of the allocations the calling thread makes through operator new while a
// probe exists (this test program replaces the global operator new to see them).
#ifndef CCAL_TESTS_CORE_ALLOCATION_PROBE_H
#define CCAL_TESTS_CORE_ALLOCATION_PROBE_H

#include <cstddef>

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;
  // Largest single request seen since construction, in bytes.
  std::size_t largest() const;
};

#endif
