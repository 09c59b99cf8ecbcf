#pragma once
// The installation id's seam for tests: defined with DozidiInstallation, declared only here.

/// Forgets the installation id read by this process, so that the next DozidiInstallation::id()
/// reads the file again (each test runs on a fresh caches folder).
void resetCachedInstallationIdForTesting();
