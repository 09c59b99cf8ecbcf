// End-to-end runs of the `fendrel` program: each test gives it a fresh device root and a loopback
// server of its own (configuration host, list server and analytics sink), runs it as a child
// process and reads back what it printed and what it left on the device.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/LoopbackServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"


namespace {

using foundation::Value;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kGroup = "group.com.morvit.Fendrel";
constexpr const char* kExtension = "com.morvit.Fendrel.Quellbox";

using testing_support::readText;

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Value parseJSON(const std::string& text) {
  auto value = foundation::JSONSerialization::JSONObjectWithData(text);
  EXPECT_TRUE(value.ok()) << text;
  return value ? *value : Value();
}

/// The lines of `text` that parse as JSON objects with "event" == `event`.
std::vector<Value> eventLines(const std::string& text, const std::string& event) {
  std::vector<Value> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    auto value = foundation::JSONSerialization::JSONObjectWithData(line);
    if (value && (*value)["event"].asString() == event) lines.push_back(*value);
  }
  return lines;
}

/// A port nothing listens on: bound, read and released again.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The first list holds one rule of each kept action type, in the reverse of the output order, a
// rule of another type, and the three forms the whitelist meets: no domain condition, an
// "if-domain" and an "unless-domain" of the list's own.
constexpr const char* kListA = R"([
 {"trigger": {"url-filter": "tracker\\.js", "unless-domain": ["kept.example"]}, "action": {"type": "ignore-previous-rules"}},
 {"trigger": {"url-filter": ".*", "if-domain": ["site.example", "other.example"]}, "action": {"type": "css-display-none", "selector": ".ad"}},
 {"trigger": {"url-filter": "ads\\.example"}, "action": {"type": "block"}},
 {"trigger": {"url-filter": "cookies\\.example"}, "action": {"type": "block-cookies"}}
])";
constexpr const char* kListB = R"([{"trigger": {"url-filter": "beacon\\.example"}, "action": {"type": "block"}}])";
// The third list also holds a rule the browser would refuse (an alternative in its URL filter).
constexpr const char* kListC = R"([{"trigger": {"url-filter": "pixel\\.example"}, "action": {"type": "block"}},
 {"trigger": {"url-filter": "ads|banners"}, "action": {"type": "block"}}])";

constexpr const char* kConfig = R"({
 "cloudConfig": {"analyticsEnabled": true},
 "lists": [
  {"objectId": "list-c", "name": "C", "desc": "c", "num": 3, "count": 1, "modifiedAt": 1700000300,
   "iconUrl": "icons/c.png", "attachmentUrl": "lists/c.json"},
  {"objectId": "list-a", "name": "A", "desc": "a", "num": 1, "count": 4, "modifiedAt": 1700000000.9,
   "iconUrl": "icons/a.png", "attachmentUrl": "lists/a.json"},
  {"objectId": "list-b", "name": "B", "desc": "b", "num": 2, "count": 1, "modifiedAt": 1700000200,
   "iconUrl": "icons/b.png", "attachmentUrl": "lists/b.json"}
 ],
 "apps": [{"objectId": "app-1", "name": "Reader", "modifiedAt": 1700000000, "iconUrl": "icons/r.png", "iTunesId": "1"}]
})";

struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
};

using ChildRun = testing_support::ProgramRun;

std::string gunzipped(const std::string& bytes) { return testing_support::gunzip(bytes).value_or(""); }

class FendrelCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = work_ + "/device";
    std::filesystem::create_directories(temporaryFolder());
    answers_["a.json"] = {200, kListA};
    answers_["b.json"] = {200, kListB};
    answers_["c.json"] = {200, kListC};

    server_.emplace([this](httplib::Server& server) {
      server.Get("/Skyvane/config1.7.json", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(kConfig, "application/json");
      });
      // Connections stay open for as long as the client keeps them, so that reuse shows.
      server.set_keep_alive_max_count(100000);
      server.Get(R"(/Skyvane/lists/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        const Answer& answer = answers_[request.matches[1]];
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType.c_str());
      });
      server.Get("/track/", [this](const httplib::Request& request, httplib::Response& response) {
        const auto at = request.target.find("data=");
        std::string data = request.target.substr(at == std::string::npos ? request.target.size() : at + 5);
        data = data.substr(0, data.find('&'));
        auto body = foundation::base64DecodedData(data);
        std::lock_guard lock(mutex_);
        tracked_.push_back(body ? parseJSON(body->bytes())["event"].asString().value_or("?") : "?");
        response.set_content("1", "text/plain");
      });
    });
    ASSERT_GT(server_->port(), 0);
  }

  void TearDown() override { server_.reset(); }

  std::string base() const { return server_->url("/"); }

  void answer(const std::string& name, Answer answer) {
    std::lock_guard lock(mutex_);
    answers_[name] = std::move(answer);
  }

  std::vector<std::string> tracked() {
    std::lock_guard lock(mutex_);
    return tracked_;
  }

  /// Runs `fendrel args...` on the test's device root against the test's server.
  ChildRun fendrel(std::vector<std::string> args, const std::string& configBase = "", const std::string& work = "",
                   const std::string& dsn = "") {
    args.insert(args.begin(), {FENDREL_BINARY, "--timeout", "90"});
    return testing_support::runProgram(args, environment(dsn, configBase), work.empty() ? work_ : work);
  }

  /// The environment of a run of the program on the test's device root against the test's server.
  std::map<std::string, std::string> environment(const std::string& dsn = "", const std::string& configBase = "") {
    return testing_support::environmentWith({
        {"FENDREL_DSN", dsn},
        {"FENDREL_DEVICE_ROOT", root_},
        {"FENDREL_CONFIG_BASES", configBase.empty() ? base() : configBase},
        {"FENDREL_NO_SHUFFLE", "1"},
        {"FENDREL_ANALYTICS_ENDPOINT", base() + "track/"},
        {"TMPDIR", temporaryFolder()},
    });
  }

  /// Runs each command line of `runs` at the same time, each in a process of its own.
  std::vector<ChildRun> fendrelAtOnce(const std::vector<std::vector<std::string>>& runs) {
    std::vector<ChildRun> results(runs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const std::string work = work_ + "/run" + std::to_string(i);
      std::filesystem::create_directories(work);
      threads.emplace_back([this, &results, &runs, i, work] { results[i] = fendrel(runs[i], "", work); });
    }
    for (auto& thread : threads) thread.join();
    return results;
  }

  /// The settings as stored now.
  foundation::Dictionary storedSettings() const {
    return foundation::UserDefaults(container(std::string("Library/Preferences/") + kGroup + ".plist"))
        .dictionaryRepresentation();
  }

  /// The program's temporary folder, where its downloads arrive.
  std::string temporaryFolder() const { return work_ + "/tmp"; }
  std::string container(const std::string& path) const { return root_ + "/containers/" + kGroup + "/" + path; }
  std::string outputText() const { return readText(container("output.json")); }
  std::string appliedText() const { return readText(root_ + "/browser/applied/" + kExtension + ".json"); }
  std::vector<std::string> cachedFiles() const {
    std::vector<std::string> names;
    if (!std::filesystem::exists(container("Library/Caches"))) return names;
    for (const auto& entry : std::filesystem::directory_iterator(container("Library/Caches")))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  /// The output rule whose "url-filter" is `filter`.
  Value outputRule(const std::string& filter) const {
    Value rules = parseJSON(outputText());
    for (const Value& rule : *rules.array()) {
      if (rule["trigger"]["url-filter"].asString() == filter) return rule;
    }
    return Value();
  }

  testing_support::TemporaryFolder workFolder_{"fendrel-cli-test"};
  std::string work_ = workFolder_.path();
  std::string root_;
  std::optional<testing_support::LoopbackServer> server_;
  std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> tracked_;
  /// The client ports from which list files were asked for: one per connection.
  std::set<int> listConnections_;
};

/// The JSON text of a rule's trigger condition `key` ("absent" when the rule has none).
std::string domains(const Value& rule, const char* key) {
  const Value& condition = rule["trigger"][key];
  if (condition.isAbsent()) return "absent";
  return foundation::JSONSerialization::dataWithJSONObject(condition).valueOr("unwritable");
}

TEST_F(FendrelCommandLineTest, WithADsnTheLaunchAndTheExtensionHostReportTheirSessions) {
  testing_support::IngestionServer ingestion;
  const std::string dsn = ingestion.dsn("0123456789abcdef0123456789abcdef", "/42");
  ChildRun launch = fendrel({"launch"}, "", "", dsn);
  ASSERT_EQ(launch.status, 0) << launch.err;
  ASSERT_TRUE(ingestion.waitForRequests(1, std::chrono::seconds(30)));
  // Session statuses in order of arrival, by release: the app's, and the extension host's, which
  // ran the plug-in for the compile of the launch with FENDREL_DSN passed down to it.
  std::map<std::string, std::string> statuses;
  for (const auto& request : ingestion.requests()) {
    auto envelope = DozidiSerialization::envelopeWithData(gunzipped(request.body));
    ASSERT_TRUE(envelope);
    for (const auto& item : envelope->items()) {
      if (item->header().type != "session") continue;
      Value session = parseJSON(item->data().bytes());
      statuses[session["attrs"]["release"].asString().value_or("?")] +=
          session["status"].asString().value_or("?") + " ";
    }
  }
  const std::map<std::string, std::string> expected = {
      {"com.morvit.Fendrel@1.0+1", "ok exited "},
      {"com.morvit.Fendrel.Quellbox@1.0+1", "ok exited "},
  };
  // Each started when its program started and ended when it exited.
  EXPECT_EQ(statuses, expected);
  // The launch count was stored after the reporter had started: its start moved the app state
  // aside before the count changed, and the count is one.
  EXPECT_EQ(storedSettings()["launchCount"].asInt64(), 1);
}

TEST_F(FendrelCommandLineTest, WithTracesTheLaunchSendsATransactionOfItsDownloadsAndFileWork) {
  testing_support::IngestionServer ingestion;
  const std::string dsn = ingestion.dsn("0123456789abcdef0123456789abcdef", "/42");
  auto env = environment(dsn);
  env["FENDREL_TRACES"] = "1";
  ChildRun launch = testing_support::runProgram({FENDREL_BINARY, "--timeout", "90", "launch"}, env, work_);
  ASSERT_EQ(launch.status, 0) << launch.err;

  // The session's end flushed the transaction before the program exited.
  std::multiset<std::string> spans;
  int transactions = 0;
  for (const auto& request : ingestion.requests()) {
    auto envelope = DozidiSerialization::envelopeWithData(gunzipped(request.body));
    ASSERT_TRUE(envelope);
    for (const auto& item : envelope->items()) {
      if (item->header().type != "transaction") continue;
      Value transaction = parseJSON(item->data().bytes());
      if (transaction["transaction"].asString() != "launch") continue;
      ++transactions;
      for (const auto& span : *transaction["spans"].array()) {
        spans.insert(span["op"].asString().value_or("?") + " " + span["description"].asString().value_or("?"));
      }
    }
  }
  ASSERT_EQ(transactions, 1) << launch.err;
  auto has = [&](const std::string& prefix) {
    return std::any_of(spans.begin(), spans.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
  };
  std::string all;
  for (const auto& span : spans) all += span + "\n";
  EXPECT_TRUE(has("http.client GET " + base() + "Skyvane/config1.7.json")) << all;
  EXPECT_TRUE(has("http.client GET " + base() + "Skyvane/lists/")) << all;
  // The downloaded bodies and the lists the compile reads are read through the data object.
  EXPECT_TRUE(has("file.read ")) << all;
  // The rule file, streamed to disk by the compiler, is one write with its size.
  EXPECT_TRUE(has("file.write output.json (")) << all;
  // The reporter's own uploads are never part of it.
  EXPECT_FALSE(has("http.client POST")) << all;
}

TEST_F(FendrelCommandLineTest, ALaunchCrashedFromOutsideIsDeliveredByTheNextLaunchOnce) {
  testing_support::IngestionServer ingestion;
  const std::string dsn = ingestion.dsn("0123456789abcdef0123456789abcdef", "/42");
  // A configuration host that holds the first launch's request until the test has crashed it.
  std::mutex lock;
  std::condition_variable changed;
  bool asked = false, released = false;
  testing_support::LoopbackServer stalling([&](httplib::Server& server) {
    server.Get(R"(/.*)", [&](const httplib::Request&, httplib::Response& response) {
      std::unique_lock guard(lock);
      asked = true;
      changed.notify_all();
      changed.wait_for(guard, std::chrono::seconds(20), [&] { return released; });
      response.status = 503;
    });
  });
  const auto env = testing_support::environmentWith({
      {"FENDREL_DSN", dsn},
      {"FENDREL_DEVICE_ROOT", root_},
      {"FENDREL_CONFIG_BASES", stalling.url("/")},
      {"FENDREL_NO_SHUFFLE", "1"},
      {"FENDREL_ANALYTICS_ENDPOINT", base() + "track/"},
      {"TMPDIR", temporaryFolder()},
  });
  std::vector<std::string> args = {FENDREL_BINARY, "--timeout", "90", "launch"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envText;
  for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
  {
    std::unique_lock guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(30), [&] { return asked; }));
  }
  ::kill(pid, SIGSEGV);
  int status = 0;
  ::waitpid(pid, &status, 0);
  {
    std::lock_guard guard(lock);
    released = true;
    changed.notify_all();
  }
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status;

  auto events = [&] {
    int count = 0;
    for (const auto& request : ingestion.requests()) {
      auto envelope = DozidiSerialization::envelopeWithData(gunzipped(request.body));
      if (!envelope) continue;
      for (const auto& item : envelope->items()) count += item->header().type == "event";
    }
    return count;
  };
  ChildRun next = fendrel({"launch"}, "", "", dsn);
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(events(), 1);
  ASSERT_EQ(fendrel({"launch"}, "", "", dsn).status, 0);
  EXPECT_EQ(events(), 1);
}

TEST_F(FendrelCommandLineTest, FirstLaunchCompilesTheFirstListAndTheWhitelistRewritesItsDomains) {
  ChildRun launch = fendrel({"launch"});
  ASSERT_EQ(launch.status, 0) << launch.err;
  EXPECT_EQ(eventLines(launch.out, "configuration").size(), 1u);
  EXPECT_FALSE(eventLines(launch.out, "busyOff").empty());

  // The first list in display order was enabled, downloaded, cached under its file name and is the
  // only one compiled; the browser applied exactly the bytes of "output.json".
  EXPECT_EQ(readText(container("Library/Caches/1700000000a.json")), kListA);
  EXPECT_EQ(appliedText(), outputText());
  Value rules = parseJSON(outputText());
  ASSERT_TRUE(rules.array());
  std::vector<std::string> types;
  for (const Value& rule : *rules.array()) types.push_back(rule["action"]["type"].asString().value_or(""));
  EXPECT_EQ(types, (std::vector<std::string>{"block", "css-display-none", "ignore-previous-rules"}));

  ChildRun add = fendrel({"whitelist", "add", "site.example"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(appliedText(), outputText());
  // The list's rules keep their own conditions; only an "if-domain" loses the whitelisted site.
  // The whitelist itself is one exception rule at the very end.
  EXPECT_EQ(domains(outputRule("ads\\.example"), "unless-domain"), "absent");
  EXPECT_EQ(domains(outputRule(".*"), "if-domain"), R"(["other.example"])");
  EXPECT_EQ(domains(outputRule("tracker\\.js"), "unless-domain"), R"(["kept.example"])");
  auto lastRule = [&] { return parseJSON(outputText()).array()->toVector().back(); };
  EXPECT_EQ(domains(lastRule(), "if-domain"), R"(["site.example"])");
  EXPECT_EQ(lastRule()["action"]["type"].asString(), "ignore-previous-rules");

  // Capitals are lower-cased; a site with a space cannot be a domain and is left out. Neither
  // makes WebKit refuse the file.
  for (const char* site : {"Caps.Example", "bad site.example"}) {
    SCOPED_TRACE(site);
    ChildRun odd = fendrel({"whitelist", "add", site});
    EXPECT_EQ(odd.status, 0) << odd.err;
    EXPECT_THAT(odd.out, Not(HasSubstr("reloadFailed")));
    EXPECT_EQ(appliedText(), outputText());
  }
  EXPECT_EQ(domains(lastRule(), "if-domain"), R"(["site.example","caps.example"])");

  ChildRun state = fendrel({"state"});
  ASSERT_EQ(state.status, 0) << state.err;
  Value settings = parseJSON(state.out);
  EXPECT_EQ(settings["extConfigIDs"], Value(foundation::Array{"list-a"}));
  EXPECT_EQ(settings["whitelist"].array()->size(), 3u);
  EXPECT_EQ(settings["launchCount"].asInt64(), 5);
  EXPECT_EQ(settings["whitelistDate"], settings["whitelistCompiledDate"]);
  EXPECT_EQ(settings["remoteSettings"]["analyticsEnabled"].asBool(), true);
  EXPECT_EQ(settings["remoteSettings"]["rateMinimumLaunches"].asInt64(), 5);

  ChildRun unknown = fendrel({"enable", "list-aa"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_THAT(unknown.err, HasSubstr("unknown list ID (did you mean 'list-a'?)"));
}

TEST_F(FendrelCommandLineTest, UnreachableConfigurationHostLeavesTheCachedConfigurationInUse) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);

  ChildRun lists = fendrel({"lists"}, "http://127.0.0.1:" + std::to_string(closedPort()) + "/");
  ASSERT_EQ(lists.status, 0) << lists.err;
  ASSERT_EQ(eventLines(lists.err, "configuration").size(), 1u);
  EXPECT_EQ(eventLines(lists.err, "configuration")[0]["source"].asString(), "local");
  EXPECT_FALSE(eventLines(lists.err, "configurationAttemptFailed").empty()) << lists.err;
  std::vector<std::string> ids, states;
  std::istringstream in(lists.out);
  for (std::string line; std::getline(in, line);) {
    Value list = parseJSON(line);
    ids.push_back(list["id"].asString().value_or(""));
    states.push_back(list["state"].asString().value_or(""));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"list-a", "list-b", "list-c"}));
  EXPECT_EQ(states, (std::vector<std::string>{"DownloadedEnabled", "DownloadedDisabled", "DownloadedDisabled"}));
}

TEST_F(FendrelCommandLineTest, ListServerAnswering404OrAnHTMLPageCachesNothing) {
  answer("a.json", {404, "<html><body>Not Found</body></html>", "text/html"});
  answer("b.json", {200, "<html><body>Sign in to the network</body></html>", "text/html"});

  // The first list, enabled on the first launch, never arrived: its rules are not in the browser.
  ChildRun launch = fendrel({"launch"});
  EXPECT_EQ(launch.status, 1) << launch.err;
  EXPECT_THAT(launch.err, HasSubstr("error: cannot bring the browser's rules up to date: enabled lists without a "
                                    "downloaded rule file: 'list-a' (the server answered with status 404)"));
  EXPECT_EQ(cachedFiles(), (std::vector<std::string>{"1700000300c.json"}));
  auto states = eventLines(launch.out, "listState");
  ASSERT_FALSE(states.empty());
  std::map<std::string, Value> last;
  for (const Value& line : states) last[*line["id"].asString()] = line;
  EXPECT_EQ(last["list-a"]["state"].asString(), "PreparingForDownload");
  EXPECT_EQ(last["list-b"]["state"].asString(), "PreparingForDownload");
  // The cell's redraw: a list waiting for its file shows the spinning download button and no
  // switch; a cached list shows its switch instead.
  EXPECT_EQ(last["list-b"]["downloadButtonVisible"].asBool(), true);
  EXPECT_EQ(last["list-b"]["downloadButtonSpinning"].asBool(), true);
  EXPECT_EQ(last["list-b"]["switchVisible"].asBool(), false);
  EXPECT_EQ(last["list-c"]["switchVisible"].asBool(), true);
  EXPECT_EQ(last["list-c"]["switchOn"].asBool(), false);
  EXPECT_EQ(last["list-c"]["downloadButtonVisible"].asBool(), false);

  // Switching on a list whose file never arrived leaves the browser without its rules: a failure.
  ChildRun enable = fendrel({"enable", "list-b"});
  EXPECT_EQ(enable.status, 1) << enable.err;
  EXPECT_THAT(enable.err, HasSubstr("cannot enable list 'list-b': its rule file could not be downloaded"));

  ChildRun compile = fendrel({"compile"});
  EXPECT_EQ(compile.status, 1) << compile.err;
  EXPECT_THAT(compile.err, HasSubstr("error: cannot compile: enabled lists without a downloaded rule file: 'list-a' "
                                     "(the server answered with status 404), 'list-b' (the answer is not a JSON "
                                     "array of rules)"));

  // Once the files arrive, the same commands succeed.
  answer("a.json", {200, kListA});
  answer("b.json", {200, kListB});
  EXPECT_EQ(fendrel({"compile"}).status, 0);
  EXPECT_EQ(fendrel({"launch"}).status, 0);
}

TEST_F(FendrelCommandLineTest, DownloadsAreBoundedAndLeaveNoPartialFile) {
  // A configuration served from another folder: list A's server sends without end (or stalls),
  // list B is a file on this machine.
  const std::string local = work_ + "/b.json";
  writeText(local, kListB);
  std::string config = kConfig;
  auto point = [&](const std::string& from, const std::string& to) { config.replace(config.find(from), from.size(), to); };
  point("\"lists/a.json\"", "\"endless/a.json\"");
  point("\"lists/b.json\"", "\"file://" + local + "\"");
  server_->server().Get("/alt/Skyvane/config1.7.json", [config](const httplib::Request&, httplib::Response& response) {
    response.set_content(config, "application/json");
  });
  struct Stall {
    std::mutex mutex;
    std::condition_variable released;
    bool stalling = false;
    bool done = false;
  };
  auto stall = std::make_shared<Stall>();
  server_->server().Get("/alt/Skyvane/endless/a.json", [stall](const httplib::Request&, httplib::Response& response) {
    auto chunk = std::make_shared<std::string>(1 << 20, ' ');
    response.set_chunked_content_provider("application/json", [chunk, stall](std::size_t offset, httplib::DataSink& sink) {
      std::unique_lock lock(stall->mutex);
      if (stall->stalling && offset > 0) {
        stall->released.wait_for(lock, std::chrono::seconds(30), [&] { return stall->done; });
        return false;
      }
      lock.unlock();
      return sink.write(chunk->data(), chunk->size());
    });
  });
  const std::string alt = base() + "alt/";
  const std::string reason = "'list-a' (resource exceeds maximum size: the answer is longer than the limit of "
                             "67108864 bytes)";

  ChildRun launch = fendrel({"launch"}, alt);
  EXPECT_EQ(launch.status, 1) << launch.err;
  EXPECT_THAT(launch.err, HasSubstr("enabled lists without a downloaded rule file: " + reason));
  EXPECT_TRUE(cachedFiles().empty());
  EXPECT_TRUE(std::filesystem::is_empty(temporaryFolder()));

  ChildRun enable = fendrel({"enable", "list-b"}, alt);
  EXPECT_EQ(enable.status, 1) << enable.err;
  ChildRun compile = fendrel({"compile"}, alt);
  EXPECT_EQ(compile.status, 1) << compile.err;
  EXPECT_THAT(compile.err, HasSubstr(reason + ", 'list-b' (unsupported URL: only http and https lists are downloaded)"));
  EXPECT_TRUE(cachedFiles().empty());

  // A command that ends while a download is under way leaves nothing of it behind.
  {
    std::lock_guard lock(stall->mutex);
    stall->stalling = true;
  }
  ChildRun stopped = fendrel({"launch", "--timeout", "3"}, alt);
  {
    std::lock_guard lock(stall->mutex);
    stall->done = true;
  }
  stall->released.notify_all();
  EXPECT_NE(stopped.status, 0);
  EXPECT_THAT(stopped.err, HasSubstr("did not become quiet"));
  EXPECT_TRUE(std::filesystem::is_empty(temporaryFolder()));
  EXPECT_TRUE(cachedFiles().empty());
}

TEST_F(FendrelCommandLineTest, AnEnabledListStoredButNeverCompiledIsCompiledByTheNextLaunch) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  // The browser stops answering: `enable` stores the list, then waits for a reload that never
  // comes, and ends before its compilation reached the browser.
  writeText(root_ + "/browser/control.json", R"({"neverAnswer": true})");
  ChildRun stopped = fendrel({"enable", "list-b", "--timeout", "3"});
  EXPECT_NE(stopped.status, 0);
  EXPECT_THAT(appliedText(), Not(HasSubstr("beacon")));

  std::filesystem::remove(root_ + "/browser/control.json");
  ChildRun launch = fendrel({"launch"});
  ASSERT_EQ(launch.status, 0) << launch.err;
  EXPECT_EQ(eventLines(launch.out, "reload").size(), 1u);
  EXPECT_THAT(appliedText(), HasSubstr("beacon"));
  EXPECT_EQ(appliedText(), outputText());

  // Nothing changed since: the next launch compiles nothing.
  ChildRun again = fendrel({"launch"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(eventLines(again.out, "reload").empty());
}

TEST_F(FendrelCommandLineTest, RuleTheBrowserWouldRefuseIsLeftOutAndNamedWithItsList) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  ChildRun enable = fendrel({"enable", "list-c"});
  ASSERT_EQ(enable.status, 0) << enable.err;
  auto leftOut = eventLines(enable.out, "rulesLeftOut");
  ASSERT_EQ(leftOut.size(), 1u) << enable.out;
  EXPECT_EQ(leftOut[0]["list"].asString(), "list-c");
  EXPECT_EQ(leftOut[0]["name"].asString(), "C");
  EXPECT_EQ(leftOut[0]["count"].asInt64(), 1);
  EXPECT_EQ(leftOut[0]["reasons"]["the url-filter is not a regular expression the browser supports"].asInt64(), 1);
  // The rest reached the browser.
  EXPECT_EQ(appliedText(), outputText());
  EXPECT_NE(outputText().find("pixel"), std::string::npos);
  EXPECT_EQ(outputText().find("banners"), std::string::npos);
}

TEST_F(FendrelCommandLineTest, BrowserThatKeepsFailingGivesErrRecompileSafariAndAFailedExit) {
  writeText(root_ + "/browser/control.json", R"({"failNextReloads": 3})");

  ChildRun launch = fendrel({"launch"});
  EXPECT_EQ(launch.status, 1) << launch.out;
  EXPECT_EQ(eventLines(launch.out, "reloadFailed").size(), 3u);
  // The busy state ends after the last retry.
  EXPECT_THAT(launch.out.substr(launch.out.rfind("busy")), HasSubstr("busyOff"));
  EXPECT_THAT(launch.err, HasSubstr("error: cannot"));
  EXPECT_THAT(tracked(), ::testing::Contains("errRecompileSafari"));
}

TEST_F(FendrelCommandLineTest, BrowserCompilerThatCrashesFailsTheReloadAndTheAppStillAnswers) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  const std::string applied = appliedText();

  writeText(root_ + "/browser/control.json", R"({"compilerFault": "abort"})");
  ChildRun crashed = fendrel({"compile", "--force"});
  EXPECT_EQ(crashed.status, 1) << crashed.err;
  auto failures = eventLines(crashed.out, "reloadFailed");
  ASSERT_FALSE(failures.empty()) << crashed.out;
  EXPECT_THAT(failures[0]["error"]["description"].asString().value_or(""),
              HasSubstr("the browser's compiler stopped: signal 6"));
  EXPECT_THAT(crashed.err, HasSubstr("error: cannot compile: loading interrupted: the browser's compiler stopped"));
  EXPECT_EQ(appliedText(), applied);

  ChildRun state = fendrel({"state"});
  EXPECT_EQ(state.status, 0) << state.err;
  EXPECT_EQ(parseJSON(state.out)["extConfigIDs"], Value(foundation::Array{"list-a"}));

  std::filesystem::remove(root_ + "/browser/control.json");
  ChildRun compiled = fendrel({"compile", "--force"});
  EXPECT_EQ(compiled.status, 0) << compiled.err;
  EXPECT_EQ(appliedText(), outputText());
}

TEST_F(FendrelCommandLineTest, WriteStoppedByTheFileSizeLimitFailsWithAMessageAndLeavesNoTemporaryFile) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  // What a run killed in the middle of its writes left behind.
  const std::string leftovers[] = {container(std::string("Library/Preferences/") + kGroup + ".plist.tmp-Ab12Cd"),
                                   container("Library/Caches/1700000200b.json.tmp-Ab12Cd"),
                                   container("output.json.tmp-Ab12Cd")};
  for (const auto& path : leftovers) writeText(path, "half written");

  // Only the program runs under the limit; what it prints reaches the test through a pipe.
  ChildRun limited = testing_support::runProgram(
      {"/bin/sh", "-c", "{ (ulimit -f 1 && exec \"$@\"); echo \"exit status $?\"; } 2>&1 | cat", "sh",
       FENDREL_BINARY, "--timeout", "90", "whitelist", "add", "x.example"},
      environment(), work_);
  EXPECT_THAT(limited.out, HasSubstr("exit status 1"));
  EXPECT_THAT(limited.out, HasSubstr("cannot whitelist add 'x.example'"));
  EXPECT_THAT(limited.out, HasSubstr("File too large"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_ + "/containers")) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  ChildRun list = fendrel({"whitelist", "list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_THAT(list.out, Not(HasSubstr("x.example")));
}

/// A rule list of `count` blocking rules.
std::string manyRules(std::size_t count) {
  std::string text = "[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += ',';
    text += R"({"trigger":{"url-filter":"r)" + std::to_string(i) + R"(\\.example"},"action":{"type":"block"}})";
  }
  return text + "]";
}

TEST_F(FendrelCommandLineTest, ChangeTheBrowserCanNeverTakeIsUndoneAndOneThatMayPassIsKept) {
  // List A keeps 3 rules; with B's 150,000 the browser's limit is passed by 3.
  answer("b.json", {200, manyRules(150000)});
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  const std::string applied = appliedText();
  ChildRun refused = fendrel({"enable", "list-b"});
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("cannot enable list 'list-b': the rule file could not be compiled: too many rules: the enabled lists make 150003 rules, "
                                     "3 over the 150000 the browser takes ('list-a' (A) 3 rules, 'list-b' (B) 150000 "
                                     "rules); the change is undone"));
  EXPECT_TRUE(eventLines(refused.out, "reload").empty()) << "the browser is not asked to take such a file";
  EXPECT_EQ(appliedText(), applied);
  EXPECT_EQ(outputText(), applied);

  // The earlier state is in force: it is what the settings show, and later changes go through.
  ChildRun state = fendrel({"state"});
  ASSERT_EQ(state.status, 0) << state.err;
  EXPECT_EQ(parseJSON(state.out)["extConfigIDs"], Value(foundation::Array{"list-a"}));
  EXPECT_EQ(parseJSON(state.out)["waitsToBeApplied"], Value(foundation::Array{}));
  ChildRun added = fendrel({"whitelist", "add", "site.example"});
  EXPECT_EQ(added.status, 0) << added.err;

  // A browser that fails for a while: the change is kept and waits to be applied.
  writeText(root_ + "/browser/control.json", R"({"failNextReloads": 100})");
  ChildRun failing = fendrel({"whitelist", "add", "other.example"});
  EXPECT_EQ(failing.status, 1) << failing.err;
  EXPECT_THAT(failing.err, HasSubstr("the change is kept and waits to be applied"));
  ChildRun waiting = fendrel({"state"});
  ASSERT_EQ(waiting.status, 0) << waiting.err;
  EXPECT_EQ(parseJSON(waiting.out)["whitelist"].array()->size(), 2u);
  EXPECT_EQ(parseJSON(waiting.out)["waitsToBeApplied"], Value(foundation::Array{"whitelist"})) << waiting.out;
}

TEST_F(FendrelCommandLineTest, LaunchEndsWithTheUserRulesWhileOtherListsStillDownload) {
  std::string config = kConfig;
  config.replace(config.find("\"lists/c.json\""), 14, "\"stall/c.json\"");
  server_->server().Get("/alt/Skyvane/config1.7.json", [config](const httplib::Request&, httplib::Response& response) {
    response.set_content(config, "application/json");
  });
  server_->server().Get(R"(/alt/Skyvane/lists/([^/]+))", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.matches[1] == "a.json" ? kListA : kListB, "application/json");
  });
  auto released = std::make_shared<std::atomic<bool>>(false);
  server_->server().Get("/alt/Skyvane/stall/c.json", [released](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/json", [released](std::size_t, httplib::DataSink& sink) {
      for (int i = 0; i < 300 && !released->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      sink.done();
      return true;
    });
  });
  ChildRun launch = fendrel({"launch", "--timeout", "6"}, base() + "alt/");
  released->store(true);
  EXPECT_EQ(launch.status, 0) << launch.err;
  EXPECT_THAT(launch.err, HasSubstr("warning: 1 list was still downloading when the time was up"));
  EXPECT_THAT(appliedText(), HasSubstr("ads"));
}

TEST_F(FendrelCommandLineTest, DownloadsFromOneHostShareTheirConnections) {
  std::string lists;
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    if (i > 0) lists += ",";
    lists += R"({"objectId": "l)" + n + R"(", "name": "L)" + n + R"(", "desc": "d", "num": )" + n +
             R"(, "count": 1, "modifiedAt": 1700000000, "iconUrl": "icons/x.png", "attachmentUrl": "lists/m)" + n +
             R"(.json"})";
    answer("m" + n + ".json", {200, kListB});
  }
  const std::string config = R"({"cloudConfig": {}, "apps": [], "lists": [)" + lists + "]}";
  server_->server().Get("/many/Skyvane/config1.7.json", [config](const httplib::Request&, httplib::Response& response) {
    response.set_content(config, "application/json");
  });
  server_->server().Get(R"(/many/Skyvane/lists/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    listConnections_.insert(request.remote_port);
    response.set_content(answers_[request.matches[1]].body, "application/json");
  });
  ChildRun launch = fendrel({"launch"}, base() + "many/");
  ASSERT_EQ(launch.status, 0) << launch.err;
  EXPECT_EQ(cachedFiles().size(), 60u);
  std::lock_guard lock(mutex_);
  EXPECT_LE(listConnections_.size(), 8u) << listConnections_.size();
}

TEST_F(FendrelCommandLineTest, DemoRunsToASummaryAndExitsZero) {
  ChildRun demo = fendrel({"demo", "--device", root_});
  EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
  EXPECT_THAT(demo.out, HasSubstr("browser verdict:  reload ok"));
  EXPECT_EQ(appliedText(), outputText());
}

/// The first line `fd` gives within `seconds`, without its line break; "" on time-out or end.
std::string readLine(int fd, int seconds) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (char c = 0; c != '\n';) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) != 1 || ::read(fd, &c, 1) != 1) return "";
    if (c != '\n') line += c;
  }
  return line;
}

TEST(FendrelDemoServerTest, ServesTheDemoConfigurationItsListsAndIconsUntilInterrupted) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = FENDREL_BINARY, command = "demo-server";
  char* argv[] = {program.data(), command.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  // A failed check below still ends the server.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};

  const std::string base = readLine(out[0], 30);
  ::close(out[0]);
  ASSERT_TRUE(base.starts_with("http://127.0.0.1:") && base.ends_with("/")) << base;
  httplib::Client client(base.substr(0, base.size() - 1));
  const std::string folder = "/Skyvane/";
  auto config = client.Get(folder + "config1.7.json");
  ASSERT_TRUE(config && config->status == 200);
  const Value catalogue = parseJSON(config->body);
  ASSERT_TRUE(catalogue["lists"].array() && !catalogue["lists"].array()->empty()) << config->body;
  // Every list and app the configuration names is served at the address it gives, relative to it.
  for (const char* kind : {"lists", "apps"}) {
    for (const Value& object : *catalogue[kind].array()) {
      const std::string name = object["name"].asString().value_or("?");
      auto icon = client.Get(folder + object["iconUrl"].asString().value_or(""));
      ASSERT_TRUE(icon && icon->status == 200) << name;
      EXPECT_EQ(icon->get_header_value("Content-Type"), "image/png") << name;
      EXPECT_TRUE(icon->body.starts_with("\x89PNG\r\n\x1a\n")) << name;
      if (object["attachmentUrl"].isAbsent()) continue;
      auto list = client.Get(folder + object["attachmentUrl"].asString().value_or(""));
      ASSERT_TRUE(list && list->status == 200) << name;
      EXPECT_TRUE(parseJSON(list->body).array()) << name;
    }
  }
  // Nothing but the plain files of its folders.
  for (const char* path :
       {"icons/missing.png", "icons/..%2Fconfig.json", "lists/..%2F..%2Fdemo%2Fconfig.json", "config.json"}) {
    auto refused = client.Get(folder + path);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404) << path;
  }

  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  reaper.pid = 0;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
}

TEST_F(FendrelCommandLineTest, ChangesMadeByProcessesAtTheSameTimeAreAllKept) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  // Each round adds two sites and enables (then, next round, disables) two lists at once; the
  // settings must hold every change afterwards.
  std::vector<std::string> sites;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    const std::string a = "a" + std::to_string(round) + ".example", b = "b" + std::to_string(round) + ".example";
    const char* verb = round % 2 == 0 ? "enable" : "disable";
    auto runs = fendrelAtOnce({{"whitelist", "add", a}, {"whitelist", "add", b}, {verb, "list-b"}, {verb, "list-c"}});
    for (const ChildRun& run : runs) EXPECT_EQ(run.status, 0) << run.err;
    sites.push_back(a);
    sites.push_back(b);

    const foundation::Dictionary settings = storedSettings();
    std::set<std::string> stored;
    for (const Value& entry : settings["whitelist"].array() ? *settings["whitelist"].array() : foundation::Array())
      stored.insert(entry["url"].asString().value_or(""));
    EXPECT_EQ(stored, std::set<std::string>(sites.begin(), sites.end()));
    std::set<std::string> enabled;
    for (const Value& id : settings["extConfigIDs"].array() ? *settings["extConfigIDs"].array() : foundation::Array())
      enabled.insert(id.asString().value_or(""));
    const std::set<std::string> expected =
        round % 2 == 0 ? std::set<std::string>{"list-a", "list-b", "list-c"} : std::set<std::string>{"list-a"};
    EXPECT_EQ(enabled, expected);
    // One launch count per process.
    EXPECT_EQ(settings["launchCount"].asInt64(), 1 + 4 * (round + 1));
    if (HasFailure()) break;
  }
}

TEST_F(FendrelCommandLineTest, ChangeThatCannotBeStoredFailsAndIsNotCompiled) {
  ASSERT_EQ(fendrel({"launch"}).status, 0);
  const std::string output = outputText();
  const std::string applied = appliedText();
  // A folder in place of the settings' lock file makes every write fail, even for root, while
  // the settings stay readable.
  const std::string lock = container(std::string("Library/Preferences/") + kGroup + ".plist.lock");
  std::filesystem::remove(lock);
  std::filesystem::create_directory(lock);

  const std::vector<std::string> changes[] = {{"whitelist", "add", "s.example"}, {"enable", "list-b"}};
  for (const auto& change : changes) {
    SCOPED_TRACE(change[0]);
    ChildRun run = fendrel(change);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("error: cannot " + change[0]));
    EXPECT_THAT(run.err, HasSubstr("the settings cannot be stored"));
    EXPECT_THAT(run.err, HasSubstr("warning: cannot store the launch count"));
    EXPECT_TRUE(eventLines(run.out, "reload").empty()) << run.out;
    EXPECT_EQ(outputText(), output);
    EXPECT_EQ(appliedText(), applied);
  }
  std::filesystem::remove(lock);
  ChildRun state = fendrel({"state"});
  ASSERT_EQ(state.status, 0) << state.err;
  Value settings = parseJSON(state.out);
  EXPECT_EQ(settings["whitelist"], Value(foundation::Array{}));
  EXPECT_EQ(settings["extConfigIDs"], Value(foundation::Array{"list-a"}));
}

TEST_F(FendrelCommandLineTest, UnreadableSettingsAreKeptAsideAndReportedOnce) {
  ASSERT_EQ(fendrel({"whitelist", "add", "s.example"}).status, 0);
  const std::string settings = container(std::string("Library/Preferences/") + kGroup + ".plist");
  const std::string damaged = readText(settings).substr(0, 20);
  writeText(settings, damaged);

  ChildRun run = fendrel({"launch"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string notice = "the settings file " + settings + " cannot be read";
  EXPECT_THAT(run.err, HasSubstr(notice));
  EXPECT_EQ(run.err.find(notice), run.err.rfind(notice)) << "said more than once";
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(container("Library/Preferences"))) {
    if (entry.path().filename().string().find(".plist.corrupt-") != std::string::npos) kept.push_back(entry.path());
  }
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readText(kept[0]), damaged);
  EXPECT_THAT(run.err, HasSubstr(kept[0]));
  // The app went on from its defaults: a first launch again, with a whitelist of none.
  EXPECT_EQ(storedSettings()["launchCount"].asInt64(), 1);
  EXPECT_EQ(fendrel({"launch"}).err.find("cannot be read"), std::string::npos);
}

TEST_F(FendrelCommandLineTest, UsageErrorsExitTwoAndHelpExitsZero) {
  // The parser's messages are covered case by case in-process; this is how the program reports one.
  ChildRun run = fendrel({"lanch"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("unknown command 'lanch' (did you mean 'launch'?)"));
  EXPECT_THAT(run.err, HasSubstr("Try 'fendrel --help' for more information."));
  EXPECT_FALSE(std::filesystem::exists(root_)) << "a usage error must not touch the device";
  ChildRun help = fendrel({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("Usage: fendrel [OPTION]... COMMAND"));
}

}  // namespace
