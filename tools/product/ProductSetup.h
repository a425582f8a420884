// What the product's installer writes, as one unit the marlin3-product tool and its tests share: the
// product key values under HKEY_LOCAL_MACHINE ("Connection Type", "IP Address", "Hostname", "Port",
// "TWAIN") and the TWAIN source table entry that names the product's scanner. Every value is checked
// before anything is written; values that do not apply to the connection type are removed, so a
// direct connection never keeps a stale network address.
#pragma once

#include <string>
#include <vector>

#include "settings/SettingsSchema.h"

namespace product {

inline constexpr const char* kProductKey = settings::kProductKey;
inline constexpr const char* kDefaultTwain = "NX Pressline";  // the source is "NX Pressline TWAIN"

enum class SetupResult { kOk, kBadValue, kRegistryFailed };

struct Setup {
  bool networked = true;
  std::string ipAddress;  // network: at least one of address and host name
  std::string hostname;
  std::string port;                   // direct: the endpoint of the USB channel
  std::string twain = kDefaultTwain;  // without the " TWAIN" suffix
  std::string device;                 // SANE device of the product's scanner; empty keeps the table as it is
};

struct Device {
  std::string name, vendor, model, type;
};

class ProductSetup {
 public:
  // Checks a setup; the text says what is wrong (empty when all is well).
  static std::string Check(const Setup& setup);
  static SetupResult Write(const Setup& setup, std::string& error);
  // Removes the product key and the product's source table entry.
  static SetupResult Remove(std::string& error);
  // The product key's values and the source table, for people.
  static std::string Show();
  // The SANE devices there are (SANE is initialised and shut down around the call).
  static bool ListDevices(std::vector<Device>& devices);
  static std::string SourceName(const std::string& twain) { return twain + " TWAIN"; }
};

}  // namespace product
