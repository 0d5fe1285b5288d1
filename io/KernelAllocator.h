#pragma once

namespace qor::io {

// The environment entry the kernel's memory manager reads once, when the
// kernel's library is loaded, and the value that picks its pooled allocator
// (the TBB library's thread-caching one in this build).
inline constexpr char kernelAllocatorKey[] = "MMGT_OPT";
inline constexpr char pooledKernelAllocator[] = "2";

// Makes the kernel allocate from its pool unless the environment names an
// allocator. Modelling is mostly the allocation of small objects, which the
// pool serves quicker than the system's heap. The kernel has chosen its
// allocator before main runs, so the program starts itself again with the
// setting (argv as main got it); it goes on with the system's heap when that
// fails. Call it first thing in main.
void usePooledKernelAllocator(char* const argv[]);

} // namespace qor::io
