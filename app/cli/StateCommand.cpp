#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/core/SettingsKeys.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "platform/foundation/DateFormatting.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/StringArray.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {

int runState(const Invocation& invocation) {
  EventLog::shared().setEventsToStandardError(true);
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;

  Singleton& singleton = Singleton::shared();
  auto defaults = singleton.userDefs();
  foundation::Array whitelist;
  for (const WhitelistElement& entry : singleton.whitelist()) {
    whitelist.push_back(foundation::Dictionary{{"url", entry.url}, {"enabled", entry.enabled}});
  }
  auto names = singleton.extConfigListNames();
  // Changes stored but not yet in the browser's rules: a compilation failed for a passing reason
  // and the next start tries again.
  foundation::Array waiting;
  if (singleton.extConfigIDs() != SharedAux::shared().appliedEnabledIDs()) waiting.push_back("enabledLists");
  if (singleton.whitelistDate().timeIntervalSince(singleton.whitelistCompiledDate()) != 0) waiting.push_back("whitelist");
  auto output = SharedAux::appGroupFileURL("output.json");
  const bool outputExists = output && foundation::FileManager::defaultManager().fileExists(*output);
  auto source = session.configurationSource();
  // The configuration's settings as the app reads them (its defaults where the configuration has
  // none).
  foundation::Dictionary remoteSettings{
      {"analyticsEnabled", singleton.analyticsEnabled()},
      {"learnMoreEnabled", singleton.learnMoreEnabled()},
      {"learnMorePageUrl", singleton.learnMorePageUrl()},
      {"settingsUrl", singleton.settingsUrl().absoluteString()},
      {"shareAppUrl", singleton.shareAppUrl().absoluteString()},
      {"shareText", singleton.shareText()},
      {"rateUrl", singleton.rateUrl()},
      {"rateMinimumLaunches", singleton.rateMinimumLaunches()},
      {"iTunesAffiliateToken", singleton.iTunesAffiliateToken()},
      {"iTunesCampaignToken", singleton.iTunesCampaignToken()},
      {"loadStoreForApps", singleton.loadStoreForApps()},
  };

  EventLog::shared().result(foundation::Dictionary{
      {"deviceRoot", foundation::DeviceRoot::path()},
      {"launchCount", singleton.launchCount()},
      {"launchedEver", defaults->boolean(settings::kLaunchedEverKey)},
      {"extConfigIDs", foundation::arrayOfStrings(singleton.extConfigIDs())},
      {"extConfigListNames",
       names ? foundation::Value(foundation::arrayOfStrings(*names)) : foundation::Value(nullptr)},
      {"whitelist", whitelist},
      {"whitelistDate", foundation::iso8601String(singleton.whitelistDate())},
      {"whitelistCompiledDate", foundation::iso8601String(singleton.whitelistCompiledDate())},
      {"waitsToBeApplied", waiting},
      {"tutorialShown", defaults->boolean("tutorialShown")},
      {"triedToRateEver", defaults->boolean("triedToRateEver")},
      {"remoteSettings", remoteSettings},
      {"configurationSource",
       source ? foundation::Value(*source == tovel::CloudConfigSource::Remote ? "remote" : "local")
              : foundation::Value(nullptr)},
      {"lists", singleton.lists()->size()},
      {"apps", singleton.apps()->size()},
      {"outputFile", outputExists ? foundation::Value(output->path()) : foundation::Value(nullptr)},
  });
  return kExitSuccess;
}

}  // namespace fendrel::cli
