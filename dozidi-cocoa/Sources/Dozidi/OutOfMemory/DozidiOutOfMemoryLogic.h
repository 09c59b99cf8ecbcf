#pragma once
#include <memory>

class DozidiAppStateManager;
class DozidiCrashWrapper;
class DozidiOptions;

/// Decides on the next launch whether the previous run was most likely ended by the system for
/// using too much memory: by ruling out every other way it could have ended, from the previous
/// run's app state and the crash recorder's facts.
class DozidiOutOfMemoryLogic {
 public:
  DozidiOutOfMemoryLogic(std::shared_ptr<const DozidiOptions> options, std::shared_ptr<DozidiCrashWrapper> crashAdapter,
                         std::shared_ptr<DozidiAppStateManager> appStateManager);
  virtual ~DozidiOutOfMemoryLogic() = default;

  /// False without options, app state manager or previous app state; true only on the first SDK
  /// start of the process.
  virtual bool isOOM();

 private:
  std::shared_ptr<const DozidiOptions> options_;
  std::shared_ptr<DozidiCrashWrapper> crashAdapter_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
};
