// A library whose constructor never returns: loading it leaves the loading thread inside the
// dynamic loader, holding the loader's lock. It tells the loader's caller through the pipe whose
// write end is in the CRASH_CHILD_LOADED_FD environment variable.
#include <unistd.h>

#include <cstdlib>

__attribute__((constructor)) static void blockForever() {
  if (const char* fd = std::getenv("CRASH_CHILD_LOADED_FD")) (void)!write(std::atoi(fd), "L", 1);
  for (;;) pause();
}
