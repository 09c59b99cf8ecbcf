#pragma once

/// Runs during a crash: no allocation, no locks.
/// Writes a new random UUID into `buffer` (37 bytes) as 36 upper-case hexadecimal characters in
/// groups 8-4-4-4-12, NUL-terminated.
void dozidicrashid_generate(char* buffer);
