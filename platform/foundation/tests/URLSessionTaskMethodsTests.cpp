// The task classes in the object runtime: resume and state changes sent through the method table.
// Its own process: the methods are replaced for the life of the process.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/foundation/URLSession.h"
#include "testing/LoopbackServer.h"

namespace foundation {
namespace {

using State = URLSessionTask::State;

/// The state changes the replaced "setState:" saw, as (state shown then, new state).
std::mutex transitionsLock;
std::vector<std::pair<State, State>> transitions;

/// Replaces "resume" with one that adds a header field first, and "setState:" with one that
/// records each change; both then call the task's own implementation.
void replaceTaskMethods() {
  runtime::Class cls = runtime::objc_getClass("NSURLSessionTask");
  static runtime::IMP resume = nullptr;
  static runtime::IMP setState = nullptr;
  resume = *runtime::class_replaceMethod(
      cls, URLSessionTask::resumeSelector(),
      runtime::imp_implementationWithBlock<void()>([](runtime::Object* self) {
        auto* task = static_cast<URLSessionTask*>(self);
        URLRequest request = task->currentRequest();
        request.setValue("from-the-hook", "X-Hook");
        task->setCurrentRequest(std::move(request));
        runtime::imp_cast<void()>(resume)->call(self);
      }));
  setState = *runtime::class_replaceMethod(
      cls, URLSessionTask::setStateSelector(),
      runtime::imp_implementationWithBlock<void(State)>([](runtime::Object* self, State state) {
        {
          std::lock_guard lock(transitionsLock);
          transitions.emplace_back(static_cast<URLSessionTask*>(self)->state(), state);
        }
        runtime::imp_cast<void(State)>(setState)->call(self, state);
      }));
}

std::vector<std::pair<State, State>> takeTransitions() {
  std::lock_guard lock(transitionsLock);
  return std::exchange(transitions, {});
}

TEST(URLSessionTaskMethodsTests, TasksAreRuntimeClassesWhoseReplacedMethodsRunFirst) {
  runtime::Class base = runtime::objc_getClass("NSURLSessionTask");
  ASSERT_NE(base, nullptr);
  auto session = URLSession::create(URLSessionConfiguration::ephemeralSessionConfiguration());
  auto data = session->dataTask(*URL::parse("http://127.0.0.1:1/"), nullptr);
  auto download = session->downloadTask(*URL::parse("http://127.0.0.1:1/"));
  EXPECT_STREQ(runtime::object_getClassName(data.get()), "NSURLSessionDataTask");
  EXPECT_STREQ(runtime::object_getClassName(download.get()), "NSURLSessionDownloadTask");
  EXPECT_EQ(runtime::class_getSuperclass(runtime::object_getClass(data.get())), base);
  EXPECT_TRUE(runtime::respondsToSelector(data.get(), URLSessionTask::setStateSelector()));

  replaceTaskMethods();
  testing_support::LoopbackServer server([](httplib::Server& s) {
    s.Post("/echo", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.get_header_value("X-Hook") + " " + std::to_string(request.body.size()),
                           "text/plain");
    });
  });
  URLRequest request(*URL::parse(server.url("/echo")));
  request.setHTTPMethod("POST");
  request.setHTTPBody(Data(std::string("eleven byte")));
  std::promise<std::string> body;
  auto task = session->dataTask(request, [&](std::optional<Data> d, std::shared_ptr<URLResponse>, std::optional<Error>) {
    body.set_value(d ? std::string(d->view()) : "failed");
  });
  task->resume();
  // The header the hook set before the task's own resume went out with the request.
  EXPECT_EQ(body.get_future().get(), "from-the-hook 11");
  EXPECT_EQ(task->countOfBytesSent(), 11);
  EXPECT_EQ(task->originalRequest().valueForHTTPHeaderField("X-Hook"), std::nullopt);
  const std::vector<std::pair<State, State>> loaded = {{State::Suspended, State::Running},
                                                       {State::Running, State::Completed}};
  EXPECT_EQ(takeTransitions(), loaded);

  // Cancelled before it ran: canceling, then completed; a second cancel changes nothing.
  std::promise<void> ended;
  auto cancelled = session->dataTask(*URL::parse(server.url("/echo")),
                                     [&](std::optional<Data>, std::shared_ptr<URLResponse>, std::optional<Error>) {
                                       ended.set_value();
                                     });
  cancelled->cancel();
  cancelled->cancel();
  ended.get_future().wait();
  const std::vector<std::pair<State, State>> abandoned = {{State::Suspended, State::Canceling},
                                                          {State::Canceling, State::Completed}};
  EXPECT_EQ(takeTransitions(), abandoned);
  session->finishTasksAndInvalidate();
}

TEST(URLSessionTaskMethodsTests, StatusCodesHaveTheirTexts) {
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(404), "not found");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(500), "internal server error");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(499), "client error");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(299), "success");
}

}  // namespace
}  // namespace foundation
