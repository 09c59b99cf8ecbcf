#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "platform/foundation/UUID.h"

class DozidiSession;

/// Keeps a session's "init" flag alive when the cache deletes the envelope that carried it: the
/// flag moves onto the next cached update of the same session, whose file is rewritten. Any
/// thread may call it; the file cache calls it under its own lock.
class DozidiMigrateSessionInit {
 public:
  DozidiMigrateSessionInit() = delete;

  /// True when a session update of `envelope` carried the init flag and a later file took it.
  /// `envelopeFilePaths` are file names inside `envelopesDirPath`, oldest first.
  static bool migrateSessionInit(const std::shared_ptr<const DozidiEnvelope>& envelope,
                                 const std::string& envelopesDirPath,
                                 const std::vector<std::string>& envelopeFilePaths);
  /// True when one of the files holds an update of the session and was rewritten with the flag.
  /// Files that cannot be read, decoded or rewritten are passed over.
  static bool setInitFlagOnNextEnvelopeWithSameSessionId(const DozidiSession& session,
                                                         const std::string& envelopesDirPath,
                                                         const std::vector<std::string>& envelopeFilePaths);
  /// True when the envelope holds an update of `sessionId` and the file at `envelopeFilePath` was
  /// rewritten with that update flagged. False when the rewrite failed: the file is unchanged.
  static bool setInitFlagIfContainsSameSessionId(const foundation::UUID& sessionId, const DozidiEnvelope& envelope,
                                                 const std::string& envelopeFilePath);
  /// Writes the envelope with its item at `sessionItemIndex` replaced by `session` (moved to the
  /// end) over `path`, atomically. False, with an error line, when it cannot.
  static bool storeSessionInit(const DozidiEnvelope& envelope, const DozidiSession& session,
                               std::size_t sessionItemIndex, const std::string& path);
  /// The envelope's items without the item at `sessionItemIndex`, in order, then the item of
  /// `session`. Every other item, other sessions' updates too, stays.
  static DozidiEnvelopeItems replaceSessionEnvelopeItem(const DozidiSession& session, const DozidiEnvelope& envelope,
                                                        std::size_t sessionItemIndex);
};
