#include "counting_allocator.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern "C" {
// glibc's own allocator under its internal names.
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void __libc_free(void *pointer);
void *__libc_memalign(size_t alignment, size_t size);
}

namespace {
unsigned long gAllocations = 0;
unsigned long gFrees = 0;

void countAllocation() { __atomic_add_fetch(&gAllocations, 1, __ATOMIC_RELAXED); }
}  // namespace

namespace allocs {
Counts counts() {
  return {__atomic_load_n(&gAllocations, __ATOMIC_RELAXED),
          __atomic_load_n(&gFrees, __ATOMIC_RELAXED)};
}
}  // namespace allocs

extern "C" {

void *malloc(size_t size) noexcept {
  countAllocation();
  return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) noexcept {
  countAllocation();
  return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size) noexcept {
  countAllocation();
  return __libc_realloc(pointer, size);
}

void free(void *pointer) noexcept {
  __atomic_add_fetch(&gFrees, 1, __ATOMIC_RELAXED);
  __libc_free(pointer);
}

void *memalign(size_t alignment, size_t size) noexcept {
  countAllocation();
  return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) noexcept {
  countAllocation();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size) noexcept {
  countAllocation();
  if (alignment == 0 || alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0)
    return EINVAL;
  void *pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *result = pointer;
  return 0;
}

}  // extern "C"
