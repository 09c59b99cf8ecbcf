// A program that installs the recorder through its facade, with user info, and then dies in one
// of the ways named by its first argument: "null", "divide-by-zero" or "throw". Its second
// argument is the recorder's base folder.
#include <sys/resource.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"

namespace {

volatile int* volatile g_nullPointer = nullptr;
volatile int g_zero = 0;
volatile int g_quotient = 0;

__attribute__((noinline)) void facade_null_dereference() { *g_nullPointer = 1; }
__attribute__((noinline)) void facade_divide_by_zero() { g_quotient = 10 / g_zero; }
__attribute__((noinline)) void facade_throw() { throw std::runtime_error("thrown through the facade"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s null|divide-by-zero|throw <base folder>\n", argv[0]);
    return 2;
  }
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  const std::string scenario = argv[1];
  const std::shared_ptr<DozidiCrash> crash = DozidiCrash::initWithBasePath(std::string(argv[2]));
  if (!crash) return 3;
  crash->setUserInfo(foundation::Dictionary{{"a", 1}});
  if (!crash->install()) return 4;
  if (scenario == "null") facade_null_dereference();
  if (scenario == "divide-by-zero") facade_divide_by_zero();
  if (scenario == "throw") facade_throw();
  return 5;
}
