#include "app/core/RuleCompiler/RuleFileWriting.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/UUID.h"

namespace fendrel {
namespace {

/// Copies the built-in file beside `output` under a name no other compilation uses, then renames
/// it over `output`. A fixed name in a shared folder would make every later compilation fail once
/// one copy was left behind.
foundation::Result<void> installBuiltInRuleFile(const foundation::URL& builtIn, const foundation::URL& output) {
  const auto& files = foundation::FileManager::defaultManager();
  std::string name(1, '.');
  name.append(output.lastPathComponent()).append(1, '.').append(foundation::UUID().uuidString()).append(".tmp");
  foundation::URL temporary = output.deletingLastPathComponent().appendingPathComponent(name);
  if (auto copied = files.copyItem(builtIn, temporary); !copied) {
    // A copy that failed half-way may have left a partial file.
    if (files.fileExists(temporary)) (void)files.removeItem(temporary);
    return copied.error();
  }
  if (auto replaced = files.replaceItem(output, temporary); !replaced) {
    (void)files.removeItem(temporary);
    return replaced.error();
  }
  return {};
}

}  // namespace

foundation::Result<void> writeRuleFile(RuleBuckets buckets, const foundation::URL& output,
                                       const std::optional<foundation::URL>& builtInRuleFile) {
  // The buckets' own temporary file goes with them when the built-in file is installed instead.
  if (buckets.empty() && builtInRuleFile) return installBuiltInRuleFile(*builtInRuleFile, output);
  return buckets.finish();
}

}  // namespace fendrel
