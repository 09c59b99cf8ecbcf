#pragma once
#include <cstdint>
#include <optional>
#include <string>

/// The store of crash reports: one JSON file per report in the reports directory, named
/// "<app>-report-<id as 16 hex digits>.json", with an optional "<…>-attachments" directory beside
/// it. IDs grow over time: a process starts above every stored ID and above its start time, so
/// a new report never takes the name of a stored one and the lowest IDs are the oldest reports.

/// Size of every path buffer the store fills.
constexpr int kDozidiCrashStorePathSize = 500;

/// Keeps the app name and the reports path, creates the directory, prunes it to the maximum
/// count and seeds the ID counter. Runs at install, before any report is written.
void dozidicrashstore_initialize(const char* appName, const char* reportsPath);

/// Runs during a crash: no allocation, no locks.
/// Takes the next report ID and formats its path into `pathBuffer` (kDozidiCrashStorePathSize
/// bytes). An ID whose file already exists (another process of the same app) is skipped. The
/// path is empty when the reports path is too long for the buffer.
void dozidicrashstore_getNextCrashReportPath(char* pathBuffer);

/// The number of stored reports.
int dozidicrashstore_getReportCount();
/// Fills `reportIDs` with up to `capacity` stored report IDs in ascending order; returns how many.
int dozidicrashstore_getReportIDs(std::int64_t* reportIDs, int capacity);
/// The report's text (its last 2,000,000 bytes when it is larger), or none.
std::optional<std::string> dozidicrashstore_readReport(std::int64_t reportID);

/// Runs during a crash: no allocation, no locks.
void dozidicrashstore_getAttachmentsPath(std::int64_t reportID, char* pathBuffer);
/// Runs during a crash: no allocation, no locks.
/// The attachments path of the report at `reportPath` (ID 0 when the path is not a report's).
void dozidicrashstore_getAttachmentsPathFromReport(const char* reportPath, char* pathBuffer);

/// Deletes everything inside the reports directory, keeping the directory.
void dozidicrashstore_deleteAllReports();
/// Deletes one report and its attachments directory; a missing report is logged.
void dozidicrashstore_deleteReportWithID(std::int64_t reportID);
void dozidicrashstore_setMaxReportCount(int maxReportCount);
