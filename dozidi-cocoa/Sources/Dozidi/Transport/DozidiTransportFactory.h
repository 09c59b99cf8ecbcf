#pragma once
#include <memory>

class DozidiFileManager;
class DozidiOptions;
class DozidiTransport;

/// Assembles the HTTP transport of a client with its collaborators: an ephemeral URL session
/// (with the options' session delegate), the request queue, the header parsers and rate limits,
/// the serial queue "dozidi-http-transport", the request builder and the network watch.
class DozidiTransportFactory {
 public:
  DozidiTransportFactory() = delete;
  static std::shared_ptr<DozidiTransport> initTransport(std::shared_ptr<DozidiOptions> options,
                                                        std::shared_ptr<DozidiFileManager> dozidiFileManager);
};
