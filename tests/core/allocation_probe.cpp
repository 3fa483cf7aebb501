#include "allocation_probe.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool tWatching = false;
thread_local std::size_t tLargest = 0;

void* allocate(std::size_t size) noexcept {
  if (tWatching && size > tLargest)
    tLargest = size;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

AllocationProbe::AllocationProbe() {
  tLargest = 0;
  tWatching = true;
}
AllocationProbe::~AllocationProbe() {
  tWatching = false;
}
std::size_t AllocationProbe::largest() const {
  return tLargest;
}

// Every replaceable form that pairs with another is replaced, so that memory from malloc is
// always returned with free (sanitizers check the pairing).
void* operator new(std::size_t size) {
  if (void* memory = allocate(size))
    return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* memory = allocate(size))
    return memory;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
