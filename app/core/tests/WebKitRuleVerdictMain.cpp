// Test-only program: asks WebKit's content-blocker compiler about rule files. Reads one rule file
// (compact JSON, one line) per line of standard input and answers each with one line:
// "OK <seconds>" when WebKit compiled it, "ERR <WebKit's message>" when it refused it. The seconds
// are the processor time this program spent on the file (all its threads), which a busy machine
// changes far less than the time on the clock. A file that makes WebKit's compiler abort ends this
// program, which its caller reads as a crash of the compiler.
//
// Usage: fendrel-webkit-verdict <store folder>

#include <webkit2/webkit2.h>

#include <time.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

double processorSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Answer {
  GMainLoop* loop = nullptr;
  std::string text;
};

void saved(GObject* source, GAsyncResult* result, gpointer data) {
  auto* answer = static_cast<Answer*>(data);
  GError* error = nullptr;
  WebKitUserContentFilter* filter =
      webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
  if (filter) {
    answer->text = "OK";
    webkit_user_content_filter_unref(filter);
  } else {
    answer->text = std::string("ERR ") + (error && error->message ? error->message : "unknown");
    for (char& c : answer->text) {
      if (c == '\n') c = ' ';
    }
  }
  if (error) g_error_free(error);
  g_main_loop_quit(answer->loop);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <store folder>\n", argv[0]);
    return 2;
  }
  WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(argv[1]);
  Answer answer;
  answer.loop = g_main_loop_new(nullptr, FALSE);
  std::string line;
  while (std::getline(std::cin, line)) {
    const double started = processorSeconds();
    GBytes* source = g_bytes_new(line.data(), line.size());
    webkit_user_content_filter_store_save(store, "verdict", source, nullptr, saved, &answer);
    g_bytes_unref(source);
    g_main_loop_run(answer.loop);
    if (answer.text == "OK") answer.text += " " + std::to_string(processorSeconds() - started);
    std::cout << answer.text << '\n' << std::flush;
  }
  g_main_loop_unref(answer.loop);
  g_object_unref(store);
  return 0;
}
