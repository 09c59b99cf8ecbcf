#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"

using foundation::Array;
using foundation::Dictionary;

std::shared_ptr<DozidiStacktrace> DozidiStacktrace::initWithFrames(std::vector<std::shared_ptr<DozidiFrame>> frames,
                                                                   Dictionary registers) {
  auto trace = std::shared_ptr<DozidiStacktrace>(new DozidiStacktrace());
  trace->frames = std::move(frames);
  trace->registers = std::move(registers);
  return trace;
}

Dictionary DozidiStacktrace::serialize() const {
  Dictionary result;
  Array serializedFrames;
  for (const auto& frame : frames) {
    if (!frame) continue;
    auto serialized = frame->serialize();
    if (!serialized.empty()) serializedFrames.push_back(std::move(serialized));
  }
  if (!serializedFrames.empty()) result.set("frames", std::move(serializedFrames));
  if (!registers.empty()) result.set("registers", registers);
  if (snapshot) result.set("snapshot", *snapshot);
  return result;
}

std::shared_ptr<DozidiThread> DozidiThread::initWithThreadId(std::optional<foundation::Number> threadId) {
  auto thread = std::shared_ptr<DozidiThread>(new DozidiThread());
  thread->threadId = threadId;
  return thread;
}

Dictionary DozidiThread::serialize() const {
  Dictionary result;
  result.set("id", threadId ? foundation::Value(*threadId) : foundation::Value(99));
  if (crashed) result.set("crashed", *crashed);
  if (current) result.set("current", *current);
  if (name) result.set("name", *name);
  if (stacktrace) result.set("stacktrace", stacktrace->serialize());
  return result;
}
