#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNSURLSessionTaskSearch.h"

#include "platform/foundation/URLSession.h"

std::vector<runtime::Class> DozidiNSURLSessionTaskSearch::urlSessionTaskClassesToTrack() {
  // A task of an ephemeral session that is never resumed: only its class is wanted.
  auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::ephemeralSessionConfiguration());
  auto task = session->dataTask(foundation::URL::fileURL("/"), nullptr);

  const runtime::SEL setState = foundation::URLSessionTask::setStateSelector();
  std::vector<runtime::Class> classes;
  for (runtime::Class cls = runtime::object_getClass(task.get());
       cls != nullptr && runtime::class_getInstanceMethod(cls, setState) != nullptr;
       cls = runtime::class_getSuperclass(cls)) {
    runtime::Class superclass = runtime::class_getSuperclass(cls);
    if (runtime::class_getMethodImplementation(cls, setState) !=
        runtime::class_getMethodImplementation(superclass, setState)) {
      classes.push_back(cls);
    }
  }
  task->cancel();
  session->finishTasksAndInvalidate();
  return classes;
}
