#pragma once
#include <cstdint>

/// The writing operations a report section uses, bound to one report's JSON encoder. The
/// user-section callback receives it to add its own keys inside "user". `name` is the key (ignored
/// inside arrays). Every operation runs during a crash: no allocation, no locks.
struct DozidiCrashReportWriter {
  void (*addBooleanElement)(const DozidiCrashReportWriter* writer, const char* name, bool value);
  void (*addFloatingPointElement)(const DozidiCrashReportWriter* writer, const char* name, double value);
  void (*addIntegerElement)(const DozidiCrashReportWriter* writer, const char* name, std::int64_t value);
  /// Written through the signed path: values of 2^63 and above read back negative.
  void (*addUIntegerElement)(const DozidiCrashReportWriter* writer, const char* name, std::uint64_t value);
  /// Null writes null.
  void (*addStringElement)(const DozidiCrashReportWriter* writer, const char* name, const char* value);
  void (*addTextFileElement)(const DozidiCrashReportWriter* writer, const char* name, const char* filePath);
  void (*addTextFileLinesElement)(const DozidiCrashReportWriter* writer, const char* name, const char* filePath);
  void (*addJSONFileElement)(const DozidiCrashReportWriter* writer, const char* name, const char* filePath,
                             bool closeLastContainer);
  void (*addDataElement)(const DozidiCrashReportWriter* writer, const char* name, const char* value, int length);
  void (*beginDataElement)(const DozidiCrashReportWriter* writer, const char* name);
  void (*appendDataElement)(const DozidiCrashReportWriter* writer, const char* value, int length);
  void (*endDataElement)(const DozidiCrashReportWriter* writer);
  /// Null writes null.
  void (*addUUIDElement)(const DozidiCrashReportWriter* writer, const char* name, const unsigned char* value);
  void (*addJSONElement)(const DozidiCrashReportWriter* writer, const char* name, const char* jsonElement,
                         bool closeLastContainer);
  void (*beginObject)(const DozidiCrashReportWriter* writer, const char* name);
  void (*beginArray)(const DozidiCrashReportWriter* writer, const char* name);
  void (*endContainer)(const DozidiCrashReportWriter* writer);
  void* context;
};

using DozidiCrashReportWriteCallback = void (*)(const DozidiCrashReportWriter* writer);
