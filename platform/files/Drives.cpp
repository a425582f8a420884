// GetLogicalDriveStringsA: this system's counterpart of the logical drives (see docs/platform.md).
#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/files/Files.h"

namespace platform::files {

namespace {

bool IsOctal(char c) {
  return c >= '0' && c <= '7';
}

// /proc/mounts escapes blanks, tabs, newlines and backslashes as \040, \011, \012, \134.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && IsOctal(s[i + 1]) && IsOctal(s[i + 2]) && IsOctal(s[i + 3])) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool Under(const std::string& path, const char* folder) {
  const size_t n = std::strlen(folder);
  return path.size() > n && path.compare(0, n, folder) == 0 && path[n] == '/';
}

// File systems that are never a user's volume.
bool IsPseudo(const std::string& type) {
  static const std::set<std::string> kPseudo = {
      "proc",    "sysfs",     "devtmpfs", "devpts",      "tmpfs",           "securityfs",  "cgroup",
      "cgroup2", "pstore",    "bpf",      "debugfs",     "tracefs",         "configfs",    "fusectl",
      "mqueue",  "hugetlbfs", "autofs",   "binfmt_misc", "efivarfs",        "rpc_pipefs",  "nsfs",
      "overlay", "squashfs",  "ramfs",    "selinuxfs",   "fuse.gvfsd-fuse", "fuse.portal", "nfsd",
      "devfs",   "sockfs",    "pipefs",   "none"};
  return kPseudo.count(type) > 0;
}

// Removable, optical and network file systems: shown wherever they are mounted (outside /boot).
bool IsRemovableOrNetwork(const std::string& type) {
  static const std::set<std::string> kTypes = {"vfat",    "msdos", "exfat", "ntfs",       "ntfs3", "fuseblk",
                                               "iso9660", "udf",   "hfs",   "hfsplus",    "nfs",   "nfs4",
                                               "cifs",    "smb3",  "smbfs", "fuse.sshfs", "9p"};
  return kTypes.count(type) > 0;
}

}  // namespace

std::vector<std::string> LogicalDrives(const char* mountsFile) {
  std::vector<std::string> drives{"/"};
  std::ifstream in(mountsFile ? mountsFile : "/proc/self/mounts");
  std::set<std::string> seen{"/"};
  std::vector<std::string> found;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint, type;
    if (!(fields >> device >> mountPoint >> type)) continue;
    mountPoint = Unescape(mountPoint);
    if (IsPseudo(type) || mountPoint.empty() || mountPoint[0] != '/') continue;
    const bool userPlace =
        Under(mountPoint, "/media") || Under(mountPoint, "/mnt") || Under(mountPoint, "/run/media");
    const bool systemPlace = mountPoint == "/boot" || Under(mountPoint, "/boot");
    if (!userPlace && (systemPlace || !IsRemovableOrNetwork(type))) continue;
    std::string drive = mountPoint;
    if (drive.back() != '/') drive += '/';
    if (seen.insert(drive).second) found.push_back(drive);
  }
  std::sort(found.begin(), found.end());
  drives.insert(drives.end(), found.begin(), found.end());
  return drives;
}

}  // namespace platform::files

DWORD GetLogicalDriveStringsA(DWORD size, char* buffer) {
  std::string packed;
  for (const std::string& drive : platform::files::LogicalDrives()) {
    packed += drive;
    packed += '\0';
  }
  const auto length = static_cast<DWORD>(packed.size());  // without the final zero
  if (!buffer || size < length + 1) return length + 1;
  std::memcpy(buffer, packed.data(), packed.size());
  buffer[packed.size()] = '\0';
  return length;
}
