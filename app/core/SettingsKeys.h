#pragma once

/// The keys of the app group's settings suite (Singleton::userDefs()). The app state reads and
/// writes them; the compile service writes the enabled set and the whitelist's compiled date. Stored
/// settings outlive every version of the app, so a key never changes once shipped.
namespace fendrel::settings {

/// The identifiers of the enabled filter lists, an array of strings.
inline constexpr const char* kExtConfigIDsKey = "extConfigIDs";
/// The names of the enabled filter lists, an array of strings.
inline constexpr const char* kExtConfigListNamesKey = "extConfigListNames";
/// The whitelist, an array of entry dictionaries.
inline constexpr const char* kWhitelistKey = "whitelist";
/// When the whitelist last changed, a date.
inline constexpr const char* kWhitelistDateKey = "whitelistDate";
/// The whitelist date that the last successful compilation carried, a date.
inline constexpr const char* kWhitelistCompiledDateKey = "whitelistCompiledDate";
/// The enabled set that the last successful compilation compiled, an array of strings. A launch that
/// finds the enabled set different compiles again: a change stored by a run that ended before its
/// compilation is then not lost.
inline constexpr const char* kExtConfigCompiledIDsKey = "extConfigCompiledIDs";
/// How many times the app was launched, an integer.
inline constexpr const char* kLaunchCountKey = "launchCount";
/// Set once, on the first launch ever, a boolean.
inline constexpr const char* kLaunchedEverKey = "launchedEver";

}  // namespace fendrel::settings
