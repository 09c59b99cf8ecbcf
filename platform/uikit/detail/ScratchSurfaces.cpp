#include "platform/uikit/detail/ScratchSurfaces.h"

#include <array>
#include <cstring>

namespace uikit::detail {
namespace {

// Enough for a screen, a group inside a group, a shadow's alpha and a blur's copy.
constexpr std::size_t kKept = 8;

struct Kept {
  std::array<SurfacePtr, kKept> surfaces;
};

bool fits(cairo_surface_t* s, cairo_format_t format, int width, int height) {
  return cairo_image_surface_get_format(s) == format && cairo_image_surface_get_width(s) == width &&
         cairo_image_surface_get_height(s) == height;
}

}  // namespace

SurfacePtr scratchSurface(cairo_format_t format, int width, int height) {
  thread_local Kept kept;
  // A kept surface that only this list references is free for a new use.
  SurfacePtr* emptySlot = nullptr;
  SurfacePtr* idle = nullptr;
  for (auto& slot : kept.surfaces) {
    if (!slot) {
      if (!emptySlot) emptySlot = &slot;
      continue;
    }
    if (cairo_surface_get_reference_count(slot.get()) != 1) continue;
    if (fits(slot.get(), format, width, height)) {
      cairo_surface_t* s = slot.get();
      cairo_surface_flush(s);
      std::memset(cairo_image_surface_get_data(s), 0,
                  static_cast<std::size_t>(cairo_image_surface_get_stride(s)) * static_cast<std::size_t>(height));
      cairo_surface_mark_dirty(s);
      cairo_surface_set_device_offset(s, 0, 0);
      cairo_surface_set_device_scale(s, 1, 1);
      return SurfacePtr(cairo_surface_reference(s));
    }
    if (!idle) idle = &slot;
  }
  SurfacePtr made(cairo_image_surface_create(format, width, height));
  if (cairo_surface_status(made.get()) != CAIRO_STATUS_SUCCESS) return made;
  // A free slot keeps the new surface; else it takes the place of an idle one of another size.
  if (SurfacePtr* slot = emptySlot ? emptySlot : idle) slot->reset(cairo_surface_reference(made.get()));
  return made;
}

}  // namespace uikit::detail
