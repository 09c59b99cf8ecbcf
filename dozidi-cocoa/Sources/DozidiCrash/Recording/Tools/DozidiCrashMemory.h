#pragma once
// Reads of memory that may be unmapped, without faulting, and checks on the bytes read.

#include <cstdint>

/// Copies `byteCount` bytes; true only when all of them were readable and the count is above 0.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashmem_copySafely(const void* source, void* destination, int byteCount);

/// True when every byte of the range reads (tested in 10240-byte chunks). A count of 0 is
/// readable; a negative one is not.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashmem_isMemoryReadable(const void* address, int byteCount);

/// Copies as many bytes from the start of the range as are readable; returns that count.
/// Runs during a crash: no allocation, no locks.
int dozidicrashmem_copyMaxPossible(const void* source, void* destination, int byteCount);

/// Readable bytes from `address`: a bound that may exceed `tryByteCount` by up to one chunk.
/// Runs during a crash: no allocation, no locks.
int dozidicrashmem_maxReadableBytes(const void* address, int tryByteCount);

/// True when `bytes` hold valid UTF-8 text without control characters (tab, newline and
/// carriage return allowed) of at least `minLength` bytes, terminated before `maxLength`.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashstring_isNullTerminatedUTF8String(const void* bytes, int minLength, int maxLength);

/// Finds "0x" followed by hexadecimal digits within `length` and reads them into `result`.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashstring_extractHexValue(const char* text, int length, std::uint64_t* result);
