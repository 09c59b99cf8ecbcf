#pragma once
// The crash-reporting address both of the app's programs start the reporter with.

#include <functional>
#include <string>

class DozidiOptions;

namespace fendrel {

/// The app's crash-reporting address: the project's public key at the service's ingest host.
inline constexpr const char* kCrashReportingDSN =
    "https://e83d51a07bc94f26a1d5703c98e4b2f1@o184302.ingest.dozidi.io/7351842";

/// The address the app starts the crash reporter with: FENDREL_DSN when it is set (tests and demos
/// point it at their own machine), kCrashReportingDSN otherwise. An empty FENDREL_DSN gives "",
/// which means the reporter is not started at all.
std::string crashReportingDSN();

/// True when FENDREL_TRACES is "1": the reporter then also traces screens and user interactions
/// (every transaction sampled), where the program has registered those integrations.
bool tracesRequested();

/// The app's options of the crash reporter: the address `dsn`, and tracing when tracesRequested().
void configureReporterOptions(DozidiOptions& options, const std::string& dsn);

/// Which of the reporter's integrations a program starts it with.
enum class ReporterIntegrations {
  /// Everything the app's programs use: crashes, app hangs, out-of-memory ends, breadcrumbs, the
  /// app's start, network and file tracing.
  App,
  /// The crash integration alone, for a program with no main run loop, screens or network of its
  /// own (the extension host): the others would have nothing to watch, and their start would
  /// delay the program's work.
  CrashOnly,
};

/// Starts the crash reporter with crashReportingDSN() as its only option (and tracing when
/// tracesRequested()), unless the address is empty.
/// The crash integration is installed with it: a crash of this run is recorded and delivered by
/// the next start (a crash within two seconds of the start is delivered before the start returns).
/// True when the reporter runs afterwards.
bool startCrashReporter(ReporterIntegrations integrations = ReporterIntegrations::App);

/// Seconds the end of a program waits for the reporter's last uploads; within the exit's own bound.
inline constexpr double kReporterFlushSeconds = 1.5;

/// One run of a program is one session: starts it now and registers its end with the process's
/// shutdown work, once: the session is ended ("exited") and the reporter flushed within
/// kReporterFlushSeconds. Main thread, after startCrashReporter() succeeded.
void startReporterSession();

/// With tracesRequested() and the reporter running: starts the "launch" transaction ("app.launch"),
/// bound to the scope, so that what the command line's launch does (its downloads, its file reads
/// and writes) becomes its spans. Main thread; does nothing otherwise or when one runs already.
void startLaunchTransaction();
/// Finishes the launch transaction and unbinds it from the scope; the reporter sends it, and the
/// end of the session flushes it. Main thread; does nothing when none runs.
void finishLaunchTransaction();

/// Runs `write`, which writes the file at `path` with a stream of its own (not through the data
/// object, whose writes file tracing already sees), and gives its result. With file tracing on and
/// a span bound to the scope, the write is one "file.write" child span, as a data object's write
/// would give: the file's name and size as its description, "file.path" and "file.size" as data.
bool traceStreamedFileWrite(const std::string& path, const std::function<bool()>& write);

/// The app's end, shared by its programs: posts the will-terminate notification on the calling
/// (main) thread, so that its observers close what they keep open, then ends the process through
/// the shutdown work with `status`.
[[noreturn]] void terminateApp(int status);

}  // namespace fendrel
