#pragma once
// Facts about the machine and this process, from uname, sysinfo and /proc.

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

namespace kernel {

/// The kernel's own description (uname): "Linux", the release, the build version, the machine.
struct KernelName {
  char systemName[65];
  char release[65];
  char version[65];
  char machine[65];
};

/// Runs during a crash: no allocation, no locks.
bool readKernelName(KernelName* name);

/// Physical memory in bytes (sysinfo); 0 when unknown.
std::uint64_t totalMemory();

/// Free and usable memory in bytes now: MemFree and MemAvailable of /proc/meminfo, falling back
/// to sysinfo's free RAM for both. False when neither source answers.
/// Runs during a crash: no allocation, no locks.
bool readMemoryFigures(std::uint64_t* freeBytes, std::uint64_t* usableBytes);

/// Boot time in whole seconds since the epoch (the btime line of /proc/stat); 0 when unknown.
std::int64_t bootTimeSeconds();

/// This process's start time (field 22 of /proc/self/stat on top of the boot time). False when
/// it cannot be read.
bool readProcessStartTime(timeval* start);

/// True when a tracer (a debugger, strace) is attached: TracerPid in /proc/self/status is not 0.
/// Runs during a crash: no allocation, no locks.
bool isBeingTraced();

/// The hardware model: the DMI product name, or the device-tree model on boards without DMI.
/// False when neither exists.
bool readHardwareModel(char* buffer, std::size_t length);

/// The distribution's version (VERSION_ID of /etc/os-release, without quotes). False when absent.
bool readOperatingSystemVersion(char* buffer, std::size_t length);

/// The 6-byte hardware address of a network interface. False with errno set when the interface
/// does not exist or has no such address.
bool readMacAddress(const char* interfaceName, std::uint8_t address[6]);

}  // namespace kernel
