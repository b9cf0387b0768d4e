#pragma once

// Tuning of the process that runs batches, called first thing in main().
//
// A batch of many small layers on several threads frees and allocates the same few kilobytes over
// and over. glibc gives freed memory at the top of a thread's heap back to the system (madvise),
// and serves large blocks with their own mappings (munmap on free); each of those makes every
// other core of the process flush its TLB, which costs the threads more than the conversions. The
// memory stays with the process instead and is reused; it is given back when the program ends.

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Kvx {

inline void TuneProcessForBatches() {
#if defined(__GLIBC__)
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

}  // namespace Kvx
