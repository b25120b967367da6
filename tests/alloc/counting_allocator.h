// Every call of the C allocator made in this process, counted: the test
// executable defines malloc and its kin, and the dynamic linker resolves
// the library's (and libc's own) calls to these definitions.
#ifndef ZORVAN_TEST_COUNTING_ALLOCATOR_H
#define ZORVAN_TEST_COUNTING_ALLOCATOR_H

namespace allocs {

struct Counts {
  unsigned long allocations;  // malloc, calloc, realloc, the aligned kinds
  unsigned long frees;
};

Counts counts();

}  // namespace allocs

#endif
