#pragma once
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"

/// The common part of the integrations that add files about the screen to error events and to
/// crash reports: on install the integration joins the current client's attachment processors
/// and registers its crash-time callback with the crash recorder; on uninstall it leaves the
/// client it joined and registers no callback.
class DozidiEventAttachmentIntegration : public DozidiBaseIntegration,
                                         public DozidiAttachmentProcessor,
                                         public std::enable_shared_from_this<DozidiEventAttachmentIntegration> {
 public:
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  /// The attachments unchanged for a crash event and for an event with neither exceptions nor an
  /// error; otherwise the given ones followed by this integration's, in window order. Any thread:
  /// the capture itself runs on the main thread.
  std::vector<std::shared_ptr<DozidiAttachment>> processAttachments(std::vector<std::shared_ptr<DozidiAttachment>> attachments,
                                                                    const DozidiEvent& event) override;

 protected:
  /// The files of the current windows, for an event.
  virtual std::vector<std::shared_ptr<DozidiAttachment>> eventAttachments() = 0;
  /// Registers this integration's crash-time callback with the crash recorder, or none.
  virtual void registerCrashTimeCallback(bool registered) = 0;

 private:
  std::mutex lock_;
  std::weak_ptr<DozidiClient> client_;
};

/// The object a crash-time callback works with, prepared at install so that the callback takes no
/// lock: it reads a plain pointer. Every object ever prepared is kept alive for the rest of the
/// process, since a crash on another thread may still use one while the next install replaces it.
template <class T>
class DozidiCrashTimeObject {
 public:
  /// The one of the process for objects of type T; never destroyed.
  static DozidiCrashTimeObject& shared() {
    static auto* object = new DozidiCrashTimeObject();
    return *object;
  }
  void prepare(std::shared_ptr<T> object) {
    std::lock_guard guard(lock_);
    if (std::find(kept_.begin(), kept_.end(), object) == kept_.end()) kept_.push_back(object);
    current_.store(object.get());
  }
  /// Runs during a crash: no allocation, no locks.
  T* get() const { return current_.load(); }

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<T>> kept_;
  std::atomic<T*> current_{nullptr};
};
