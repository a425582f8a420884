// The installed product's device address, read from the product key the installer writes
// (HKEY_LOCAL_MACHINE "SOFTWARE\Nexora\NX_Pressline_M10_M12_M15_M30\Port"): "IP Address" for a networked
// device ("Connection Type" "Network"), else "Port". DEVWATCH falls back to it when marlin3's
// notification carries no address yet (marlin3 learns the address only from the monitor's first start).
// These are also the values marlin3 accepts as "DevAddr".
#pragma once

#include <string>

namespace devwatch {

class ProductDevice {
 public:
  // Empty when the product key or the value is missing.
  static std::string Address();
};

}  // namespace devwatch
