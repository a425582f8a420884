// IsDupDevName of ValueGetter: whether another Quick Set already shows a name on the device's panel.
// The wizard's save page and the device name prompt ask before a name is published.
#include <vector>

#include "log/DebugTrace.h"
#include "platform/text/Text.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"
#include "settings/ValueGetter.h"

bool ValueGetter::IsDupDevName(const std::string& deviceName, const std::string& qs) {
  DebugTrace trace("IsDupDevName", __FILE__);
  std::string name = deviceName;
  if (IsNetworked()) {
    std::string prefix;
    GetNetworkPrefix(prefix);
    name = prefix + name;
  }

  std::vector<std::string> quickSets;
  MyReg mainKey;
  if (mainKey.Open(HKEY_CURRENT_USER, GetMainKeyPath(), KEY_READ, MyReg::kLogFailure))
    mainKey.EnumKeys(quickSets);
  mainKey.Close();

  for (const std::string& other : quickSets) {
    // Quick Set names are registry key names, which ignore case: "Scan" and "scan" are one record.
    if (platform::text::EqualsNoCase(other, qs)) continue;
    std::string devDest;
    GetSetting(settings::kQsDevDest.pszName, devDest, other, settings::kQsDevDest.pszDefault);
    if (devDest == name) return true;
  }
  return false;
}
