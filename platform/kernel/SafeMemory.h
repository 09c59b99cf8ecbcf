#pragma once
// Reads of this process's memory that never fault: an unreadable address gives false, no signal.

#include <cstddef>

namespace kernel {

/// Chooses the read method once, at normal time: process_vm_readv when the kernel allows it
/// (some seccomp profiles refuse it), else a probe pipe that the kernel copies through. Reads
/// before this call choose lazily. Safe to call more than once.
void prepareSafeReads();

/// Copies `length` bytes from `source` to `destination` only when the whole range is readable.
/// A length of 0 succeeds. With the probe pipe, a read that meets another thread's read in
/// progress fails rather than mixing their bytes.
/// Runs during a crash: no allocation, no locks.
bool copySafely(const void* source, void* destination, std::size_t length);

/// One range of a scattered read.
struct SafeReadPart {
  const void* source;
  void* destination;
  std::size_t length;
};

/// Copies every part as `copySafely` does, with as few system calls as the kernel allows (one for
/// up to 64 parts). True only when every part was copied whole; after false the destinations
/// hold no promise.
/// Runs during a crash: no allocation, no locks.
bool copySafelyEach(const SafeReadPart* parts, int count);

/// Forces the probe-pipe method (tests of the fallback) or goes back to the automatic choice.
void useProbePipeForSafeReads(bool probePipe);

/// Writes to every page of [begin, begin + length) without changing a byte, so that memory a crash
/// will write is mapped at normal time: the first write to a page of zero-filled memory faults, and
/// a fault is dear in a signal handler. Atomic, so another thread writing the same memory keeps
/// its bytes.
void touchPagesInPlace(void* begin, std::size_t length);

}  // namespace kernel
