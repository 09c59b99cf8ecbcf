#include "platform/foundation/detail/NetworkEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/CallbackGuard.h"
#include "platform/foundation/URL.h"
#include "testing/ThreadWakeUps.h"

namespace foundation::detail {
namespace {

/// Bounds every wait so that a fault fails the test instead of hanging it.
constexpr auto kWaitLimit = std::chrono::seconds(20);

enum class Throws { Never, InResponse, InData };

/// An observer that throws from the chosen report and records how the transfer ended.
class ThrowingObserver final : public TransferObserver {
 public:
  explicit ThrowingObserver(Throws throws) : throws_(throws) {}

  void transferDidReceiveResponse(std::shared_ptr<URLResponse>) override {
    if (throws_ == Throws::InResponse) throw std::runtime_error("response handler failed");
  }
  std::optional<Error> transferDidReceiveData(std::string_view bytes) override {
    if (throws_ == Throws::InData) throw std::bad_alloc();
    std::lock_guard lock(mutex_);
    body_.append(bytes);
    return std::nullopt;
  }
  void transferDidEnd(std::optional<Error> error) override {
    std::lock_guard lock(mutex_);
    ++ends_;
    error_ = std::move(error);
    changed_.notify_all();
  }

  /// Waits for the end; false when it never came.
  bool waitForEnd() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWaitLimit, [&] { return ends_ > 0; });
  }
  std::optional<Error> error() {
    std::lock_guard lock(mutex_);
    return error_;
  }
  std::string body() {
    std::lock_guard lock(mutex_);
    return body_;
  }

 private:
  const Throws throws_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int ends_ = 0;
  std::optional<Error> error_;
  std::string body_;
};

/// A new temporary file holding `text`; its path, or empty when it cannot be made.
std::string fileWith(const std::string& text) {
  char path[] = "/tmp/NetworkEngineTests.XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return {};
  ::close(fd);
  std::ofstream(path) << text;
  return path;
}

TEST(NetworkEngineTests, AHandlerThatThrowsIsLoggedFailsItsTransferAndTheEngineGoesOn) {
  std::mutex logMutex;
  std::vector<std::string> logged;
  auto previous = dispatch::setCallbackFailureSink([&](std::string_view callback, std::string_view what) {
    std::lock_guard lock(logMutex);
    logged.push_back(std::string(callback) + ": " + std::string(what));
  });
  const std::string path = fileWith("body of the file");
  ASSERT_FALSE(path.empty());
  URLRequest request(URL::fileURL(path));

  struct Case {
    const char* name;
    Throws throws;
  };
  for (const Case& c : {Case{"response handler", Throws::InResponse}, Case{"data handler", Throws::InData}}) {
    SCOPED_TRACE(c.name);
    auto observer = std::make_shared<ThrowingObserver>(c.throws);
    NetworkEngine::shared().start(request, TransferOptions(), observer);
    ASSERT_TRUE(observer->waitForEnd());
    auto error = observer->error();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain(), kURLErrorDomain);
    EXPECT_EQ(error->code(), static_cast<std::int64_t>(URLError::Unknown));
  }
  {
    std::lock_guard lock(logMutex);
    EXPECT_EQ(logged, (std::vector<std::string>{"network body: response handler failed",
                                                "network body: std::bad_alloc"}));
  }
  dispatch::setCallbackFailureSink(std::move(previous));

  // The network thread survived: the next transfer loads.
  auto observer = std::make_shared<ThrowingObserver>(Throws::Never);
  NetworkEngine::shared().start(request, TransferOptions(), observer);
  ASSERT_TRUE(observer->waitForEnd());
  EXPECT_FALSE(observer->error().has_value());
  EXPECT_EQ(observer->body(), "body of the file");
  ::unlink(path.c_str());
}

TEST(NetworkEngineTests, WithNoTransferTheNetworkThreadSleepsUntilTheNextStarts) {
  const std::string path = fileWith("idle");
  ASSERT_FALSE(path.empty());
  URLRequest request(URL::fileURL(path));
  auto first = std::make_shared<ThrowingObserver>(Throws::Never);
  NetworkEngine::shared().start(request, TransferOptions(), first);
  ASSERT_TRUE(first->waitForEnd());

  // The thread ends the transfer's pass and goes to sleep; then a quiet spell.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long before = testing_support::voluntaryContextSwitchesOfThread("network");
  ASSERT_GE(before, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2600));
  // Waking to look for time-outs of transfers that do not exist would be five or six times; a
  // stray wake-up of a loaded machine stays below.
  EXPECT_LE(testing_support::voluntaryContextSwitchesOfThread("network") - before, 2);

  // start() wakes it.
  auto second = std::make_shared<ThrowingObserver>(Throws::Never);
  NetworkEngine::shared().start(request, TransferOptions(), second);
  ASSERT_TRUE(second->waitForEnd());
  EXPECT_EQ(second->body(), "idle");
  ::unlink(path.c_str());
}

}  // namespace
}  // namespace foundation::detail
