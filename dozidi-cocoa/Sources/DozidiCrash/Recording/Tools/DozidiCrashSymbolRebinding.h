#pragma once
// Symbol rebinding: redirects the imported functions of every loaded image to replacements, by
// rewriting the images' import slots.

#include <cstddef>

/// One function to redirect: its symbol name, the replacement, and where to store the function
/// that the slot held before (null when not wanted).
struct dozidicrash_rebinding {
  const char* name;
  void* replacement;
  void** replaced;
};

/// Adds a set of rebindings (copied; the newest set wins for a name) and applies every set to
/// every loaded image. Names are whole ELF symbol names; a name shorter than two characters is
/// never rebound. Returns 0, or -1 when the set cannot be allocated. Normal time.
int dozidicrash_rebind_symbols(const dozidicrash_rebinding rebindings[], std::size_t count);

/// Applies the rebinding sets to images loaded since the last pass. Linux announces no loaded
/// image, so the recorder's periodic refresh calls this; it does nothing when no image came.
void dozidicrash_rebindNewImages();
