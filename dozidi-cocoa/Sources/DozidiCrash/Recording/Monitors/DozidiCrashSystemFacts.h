#pragma once
// The system monitor's facts as one plain record, shared by the monitor that gathers them and the
// crash event record that carries them to the report writer.

#include <cstdint>

/// The gathered facts, in report order. Texts are heap copies made at gathering, or null.
struct DozidiCrashSystemFacts {
  const char* systemName;
  const char* systemVersion;
  const char* machine;
  const char* model;
  const char* kernelVersion;
  const char* osVersion;
  bool isJailbroken;
  const char* bootTime;
  const char* appStartTime;
  const char* executablePath;
  const char* executableName;
  const char* bundleID;
  const char* bundleName;
  const char* bundleVersion;
  const char* bundleShortVersion;
  const char* appID;
  const char* cpuArchitecture;
  std::int32_t cpuType;
  std::int32_t cpuSubType;
  std::int32_t binaryCPUType;
  std::int32_t binaryCPUSubType;
  const char* processName;
  std::int32_t processID;
  std::int32_t parentProcessID;
  const char* deviceAppHash;
  const char* buildType;
  std::uint64_t storageSize;
  std::uint64_t freeStorageSize;
  std::uint64_t memorySize;
  std::uint64_t freeMemory;
  std::uint64_t usableMemory;
};
