#include "testing/ScopedLocale.h"

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace testing_support {
namespace {

constexpr const char* kLocaleCompiler = "/usr/bin/localedef";

// The folder of the locales built for this process, kept until the process ends.
TemporaryFolder& builtLocales() {
  static TemporaryFolder folder("fendrel-locales");
  return folder;
}

// Builds `name` ("<source>.<charmap>") into the private folder once; "" on success, else why not.
std::string buildLocale(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, std::string> outcomes;
  std::lock_guard guard(lock);
  if (const auto known = outcomes.find(name); known != outcomes.end()) return known->second;
  std::string& outcome = outcomes[name];
  const auto dot = name.find('.');
  if (dot == std::string::npos) return outcome = "the locale " + name + " names no character set";
  if (::access(kLocaleCompiler, X_OK) != 0) return outcome = "the locale " + name + " is not installed and localedef is missing";
  const auto run = runProgram({kLocaleCompiler, "-i", name.substr(0, dot), "-f", name.substr(dot + 1),
                               builtLocales().file(name)},
                              environmentWith({}), builtLocales().path());
  // localedef answers 1 for warnings while still writing a usable locale.
  if (run.status != 0 && run.status != 1) {
    return outcome = "the locale " + name + " could not be built: " + run.err;
  }
  return outcome;
}

}  // namespace

ScopedLocale::ScopedLocale(const std::string& name) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  previousLocale_ = previous ? previous : "C";
  if (std::setlocale(LC_ALL, name.c_str())) {
    active_ = true;
    return;
  }
  whyNot_ = buildLocale(name);
  if (!whyNot_.empty()) return;
  if (const char* path = std::getenv("LOCPATH")) previousLocalePath_ = path;
  ::setenv("LOCPATH", builtLocales().path().c_str(), 1);
  setLocalePath_ = true;
  active_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
  if (!active_) whyNot_ = "the locale " + name + " was built but does not load";
}

ScopedLocale::~ScopedLocale() {
  // The search path first, so that the previous locale is found where it was found before.
  if (setLocalePath_) {
    if (previousLocalePath_) {
      ::setenv("LOCPATH", previousLocalePath_->c_str(), 1);
    } else {
      ::unsetenv("LOCPATH");
    }
  }
  std::setlocale(LC_ALL, previousLocale_.c_str());
}

}  // namespace testing_support
