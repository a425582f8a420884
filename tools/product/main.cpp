// marlin3-product: what the product's installer does on Windows, for Linux users and for tests. Writes
// the product key values and the TWAIN source table entry of the product's scanner, lists the SANE
// devices to choose from, shows what is set, removes it. Exit codes: 0 done, 1 usage, 2 failure.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/product/ProductSetup.h"

namespace {

constexpr const char* kUsage =
    "usage: marlin3-product network (--ip ADDRESS | --hostname NAME)... [--device SANE-DEVICE] [--twain "
    "NAME]\n"
    "       marlin3-product direct --port PORT [--device SANE-DEVICE] [--twain NAME]\n"
    "       marlin3-product devices\n"
    "       marlin3-product show\n"
    "       marlin3-product remove\n"
    "--device choose: pick the scanner from a numbered list of SANE devices (on a terminal).\n"
    "--twain NAME: the TWAIN source is \"NAME TWAIN\" (default \"NX Pressline\").\n";

int Usage(const char* problem = nullptr) {
  if (problem != nullptr) std::fprintf(stderr, "marlin3-product: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 1;
}

int Devices() {
  std::vector<product::Device> devices;
  if (!product::ProductSetup::ListDevices(devices)) {
    std::fprintf(stderr, "marlin3-product: SANE could not list devices\n");
    return 2;
  }
  if (devices.empty()) std::printf("No SANE devices found.\n");
  for (size_t i = 0; i < devices.size(); ++i)
    std::printf("%zu. %s  (%s %s, %s)\n", i + 1, devices[i].name.c_str(), devices[i].vendor.c_str(),
                devices[i].model.c_str(), devices[i].type.c_str());
  return 0;
}

// Numbered list on a terminal; the answer's device, or empty.
std::string Choose() {
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "marlin3-product: --device choose needs a terminal; give the device's name\n");
    return "";
  }
  std::vector<product::Device> devices;
  if (!product::ProductSetup::ListDevices(devices) || devices.empty()) {
    std::fprintf(stderr, "marlin3-product: no SANE devices to choose from\n");
    return "";
  }
  for (size_t i = 0; i < devices.size(); ++i)
    std::printf("%zu. %s  (%s %s)\n", i + 1, devices[i].name.c_str(), devices[i].vendor.c_str(),
                devices[i].model.c_str());
  std::printf("Scanner number: ");
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) return "";
  char* end = nullptr;
  const unsigned long n = std::strtoul(answer.c_str(), &end, 10);
  if (answer.empty() || *end != '\0' || n < 1 || n > devices.size()) {
    std::fprintf(stderr, "marlin3-product: no such number\n");
    return "";
  }
  return devices[n - 1].name;
}

}  // namespace

int main(int argc, char** argv) {
  // The machine-wide hive this creates is for every user to read, whatever umask root has (0077 would
  // leave the product key unreadable to the people who scan).
  umask(022);
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "devices" && argc == 2) return Devices();
  if (command == "show" && argc == 2) {
    std::fputs(product::ProductSetup::Show().c_str(), stdout);
    return 0;
  }
  std::string error;
  if (command == "remove" && argc == 2) {
    if (product::ProductSetup::Remove(error) != product::SetupResult::kOk) {
      std::fprintf(stderr, "marlin3-product: %s\n", error.c_str());
      return 2;
    }
    return 0;
  }
  if (command != "network" && command != "direct") return Usage("unknown command");
  product::Setup setup;
  setup.networked = command == "network";
  for (int i = 2; i < argc; i += 2) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage(("missing value after " + option).c_str());
    const std::string value = argv[i + 1];
    if (option == "--ip" && setup.networked)
      setup.ipAddress = value;
    else if (option == "--hostname" && setup.networked)
      setup.hostname = value;
    else if (option == "--port" && !setup.networked)
      setup.port = value;
    else if (option == "--device")
      setup.device = value;
    else if (option == "--twain")
      setup.twain = value;
    else
      return Usage(("unknown option " + option).c_str());
  }
  if (setup.device == "choose") {
    setup.device = Choose();
    if (setup.device.empty()) return 2;
  }
  switch (product::ProductSetup::Write(setup, error)) {
    case product::SetupResult::kOk:
      std::fputs(product::ProductSetup::Show().c_str(), stdout);
      return 0;
    case product::SetupResult::kBadValue:
      return Usage(error.c_str());
    default:
      std::fprintf(stderr, "marlin3-product: %s\n", error.c_str());
      return 2;
  }
}
