#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/tests/BannerTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"

namespace MessageBanners {
namespace {

using testing_support::CardMessage;

// Four threads show and hide at random for two seconds while the main thread runs the main
// loop; then the queue must drain. Messages are made on the main queue through view providers.
TEST(MessageQueueThreadTests, FourThreadsShowingAndHidingNeverOverlapAndTheQueueDrains) {
  dispatch::bindMainThread();
  testing_support::TestApp app;
  auto manager = MessageBanners::create();
  manager->setPauseBetweenMessages(0.01);

  int onScreen = 0, mostOnScreen = 0, shown = 0;
  auto listener = [&](const Event& e) {
    if (e.kind == Event::Kind::WillShow) {
      mostOnScreen = std::max(mostOnScreen, ++onScreen);
      ++shown;
    }
    if (e.kind == Event::Kind::DidHide) --onScreen;
  };
  const std::vector<std::string> ids{"a", "b", "c", "d", "e"};

  std::atomic<int> running{4};
  std::vector<std::thread> threads;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(1234 + t);
      while (std::chrono::steady_clock::now() < end) {
        const std::string id = ids[random() % ids.size()];
        switch (random() % 8) {
          case 0: case 1: case 2: {
            Config config;
            config.eventListeners.push_back(listener);
            config.ignoreDuplicates = random() % 2;
            config.duration = random() % 3 == 0 ? Duration::indefinite(0.02, 0.05) : Duration::seconds(0.05);
            config.presentationStyle = random() % 2 ? PresentationStyle::top() : PresentationStyle::bottom();
            manager->show(config, [id] { return std::static_pointer_cast<uikit::UIView>(CardMessage::create(id)); });
            break;
          }
          case 3: manager->hide(id); break;
          case 4: manager->hideCounted(id); break;
          case 5: manager->hide(random() % 2 == 0); break;
          case 6: (void)manager->count(id); (void)manager->currentOrQueued(id); break;
          case 7: if (random() % 10 == 0) manager->hideAll(); break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 5));
      }
      --running;
      dispatch::wakeMainLoop();
    });
  }
  ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return running == 0; }, 30));
  for (auto& thread : threads) thread.join();

  auto drained = [&] {
    if (manager->current()) return false;
    return std::none_of(ids.begin(), ids.end(), [&](const auto& id) { return manager->queued(id) != nullptr; });
  };
  // Messages of indefinite duration never go by themselves: one last hide-all takes them, and the
  // queue must then empty and stay empty. A show with a view provider reaches the queue through
  // the main queue, so the hide-all goes the same way: after every show the threads posted.
  dispatch::DispatchQueue::main()->async([&] { manager->hideAll(); });
  ASSERT_TRUE(dispatch::runMainLoopUntil(drained, 30));
  dispatch::runMainLoopUntil([] { return false; }, 0.3);
  EXPECT_TRUE(dispatch::runMainLoopUntil(drained, 30));
  EXPECT_EQ(mostOnScreen, 1);
  EXPECT_EQ(onScreen, 0);
  EXPECT_GT(shown, 0);
}

}  // namespace
}  // namespace MessageBanners
