#pragma once
// Threads of this process as the kernel sees them: ids, listing and names.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/kernel/FileIdentity.h"

namespace kernel {

/// Kernel thread id (what gettid returns). The main thread's id equals the process id.
using ThreadId = pid_t;

/// The calling thread's id. Kept per thread after the first call (a system call); a child made
/// by fork learns its own.
/// Runs during a crash: no allocation, no locks.
ThreadId currentThreadId();

/// This process's id, kept after the first call as above.
/// Runs during a crash: no allocation, no locks.
pid_t currentProcessId();

/// Lists the threads of this process from /proc/self/task into `out`, at most `capacity` ids.
/// Returns how many threads exist (which may exceed `capacity`; only the first `capacity` are
/// stored), or -1 when the folder cannot be read. Uses open, getdents64 and close only.
/// Runs during a crash: no allocation, no locks.
int listThreads(ThreadId* out, int capacity);

/// Opens /proc/self/task for `listThreadsIn`. Returns the descriptor (close-on-exec), or -1.
int openThreadList();

/// Lists the threads as `listThreads` does, from a descriptor of `openThreadList`, which it
/// rewinds first: a caller that lists many times a second saves the open and the close, and
/// usually the second read.
/// No allocation, no locks.
int listThreadsIn(int taskDirectory, ThreadId* out, int capacity);

/// Reads the identity of the folder behind `taskDirectory`, kept with the descriptor (a program may
/// close descriptors it did not open). False when it cannot be read or is not a folder.
bool identifyThreadList(int taskDirectory, FileIdentity* identity);

/// How many threads the process has now, from the link count of a descriptor of
/// `openThreadList` (the kernel counts each thread as a link of the folder): one fstat, where a
/// listing is a seek and a directory read. -1 when the descriptor cannot be read, or when
/// `expected` is given and the descriptor no longer refers to that folder.
/// Runs during a crash: no allocation, no locks.
int countThreadsIn(int taskDirectory, const FileIdentity* expected = nullptr);

/// Reads the thread's name (/proc/self/task/<tid>/comm, at most 15 bytes) into `buffer`, without
/// the trailing newline and always terminated. False when the thread is gone or `length` is 0.
/// Runs during a crash: no allocation, no locks.
bool readThreadName(ThreadId thread, char* buffer, std::size_t length);

}  // namespace kernel
