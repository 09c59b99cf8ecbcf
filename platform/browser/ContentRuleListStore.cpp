#include "platform/browser/ContentRuleListStore.h"

#include <webkit2/webkit2.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/dispatch/Thread.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/FileManager.h"

namespace browser {

namespace {

/// One compilation handed to the WebKit thread; the caller waits on `done`. Only plain C++ data
/// crosses threads (under `mutex`); every GLib and WebKit object is made and freed on the WebKit
/// thread, so the hand-over is visible to the thread sanitizer, which cannot see GLib's own locks.
struct CompileJob {
  std::string folder;
  std::string identifier;
  std::string source;

  std::mutex mutex;
  std::condition_variable done;
  std::optional<foundation::Result<void>> result;
  bool failedWithoutError = false;

  void finish(foundation::Result<void> outcome) {
    std::lock_guard lock(mutex);
    result = std::move(outcome);
    done.notify_all();
  }
  /// Ends the job when even making its error failed; allocates nothing.
  void finishWithoutError() noexcept {
    std::lock_guard lock(mutex);
    failedWithoutError = true;
    done.notify_all();
  }
};

foundation::Error errorFromGError(const GError* error) {
  return foundation::Error::withDescription(g_quark_to_string(error->domain), error->code,
                                            error->message ? error->message : "");
}

/// GLib calls this from C: no exception may leave it. The GLib objects are released first, so a
/// failure while making the answer leaks nothing, and the waiting caller is always released.
void saveFinished(GObject* source, GAsyncResult* asyncResult, gpointer data) noexcept {
  auto* job = static_cast<CompileJob*>(data);
  auto* store = WEBKIT_USER_CONTENT_FILTER_STORE(source);
  GError* error = nullptr;
  WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(store, asyncResult, &error);
  g_object_unref(store);
  if (filter) webkit_user_content_filter_unref(filter);
  try {
    if (filter) {
      job->finish(foundation::Result<void>::success());
    } else {
      job->finish(error ? errorFromGError(error)
                        : foundation::Error::withDescription("WebKitUserContentFilterError", 0,
                                                             "the rule list was not saved"));
    }
  } catch (...) {
    job->finishWithoutError();
  }
  if (error) g_error_free(error);
}

/// Runs on the WebKit thread: starts the compilation; saveFinished ends it on the same thread.
void startCompile(CompileJob* job) {
  WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(job->folder.c_str());
  GBytes* source = g_bytes_new(job->source.data(), job->source.size());
  webkit_user_content_filter_store_save(store, job->identifier.c_str(), source, nullptr, saveFinished, job);
  g_bytes_unref(source);
}

/// The thread that owns GLib's default main context for the life of the process. WebKit binds
/// its main run loop to that context when it is first used and answers every asynchronous call
/// through it, so all WebKit calls are made here and the loop never stops.
class WebKitThread {
 public:
  static WebKitThread& shared() {
    static WebKitThread* thread = new WebKitThread();
    return *thread;
  }

  void post(CompileJob& job) {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(&job);
    }
    g_main_context_wakeup(nullptr);
  }

 private:
  WebKitThread() {
    // The default context (and its wake-up descriptor) is made here, before the thread starts and
    // before any caller can wake it.
    GMainContext* context = g_main_context_default();
    dispatch::startThread("browser-webkit", [this, context] {
      g_main_context_acquire(context);
      for (;;) {
        startPending();
        g_main_context_iteration(context, TRUE);
      }
    }).detach();
  }

  void startPending() {
    std::vector<CompileJob*> jobs;
    {
      std::lock_guard lock(mutex_);
      jobs.swap(pending_);
    }
    for (CompileJob* job : jobs) startCompile(job);
  }

  std::mutex mutex_;
  std::vector<CompileJob*> pending_;
};

}  // namespace

foundation::Result<void> ContentRuleListStore::compile(const std::string& storageFolder,
                                                       const std::string& identifier,
                                                       std::string_view source) {
  auto created = foundation::FileManager::defaultManager().createDirectory(storageFolder,
                                                                          foundation::Intermediates::Yes);
  if (!created) return created.error();

  CompileJob job;
  job.folder = storageFolder;
  job.identifier = identifier;
  job.source = std::string(source);
  WebKitThread::shared().post(job);
  std::unique_lock lock(job.mutex);
  job.done.wait(lock, [&] { return job.result.has_value() || job.failedWithoutError; });
  if (!job.result) {
    return foundation::Error::withDescription("WebKitUserContentFilterError", 0, "the rule list was not saved");
  }
  return std::move(*job.result);
}

}  // namespace browser
