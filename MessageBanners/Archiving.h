#pragma once

namespace MessageBanners {

/// Makes the library's view classes and their archive-settable attributes and outlets known to
/// the toolkit's archive registry, once per process; every nib loading of the library calls it
/// first. Main thread only.
void registerArchiveClasses();

}  // namespace MessageBanners
