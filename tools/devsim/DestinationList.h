// The simulated device's scan-to destination list and its panel's pending scan requests.
// Used by the simulator's server (documents and the update form) and by its tests.
// The list has a fixed number of slots; a destination's DestinationID is its slot. Entries are kept in
// ID order and the document lists them in that order. Seeding and dumping use one line per entry,
// "ID^HostID^DeviceDisplay^ScanToType", so a dump can seed a later run.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

struct Destination {
  int nId = 0;
  std::string strHostId;
  std::string strDisplay;
  std::string strType;
};

struct ScanRequest {
  int nId = 0;
  std::string strHostId;
  std::string strDisplay;
};

struct UpdateResult {
  int nAdded = 0;
  int nRemoved = 0;
  int nRefused = 0;  // list full, malformed entry, or unknown key
};

class DestinationList {
 public:
  static constexpr int kMaxSlots = 1000;
  static constexpr std::size_t kMaxTextBytes = 256;
  static constexpr std::size_t kMaxPending = 64;

  explicit DestinationList(int nSlots = 30);

  int Slots() const { return m_nSlots; }
  const std::vector<Destination>& Entries() const { return m_entries; }

  // Adds (or, for the same host and name, keeps) one destination in the lowest free slot.
  // Returns the ID, or nothing when the list is full or a text is too long.
  std::optional<int> Add(const std::string& hostId, const std::string& display, const std::string& type);
  // Removes every destination with this display name; returns how many went.
  int RemoveByName(const std::string& display);
  // Puts an entry into a given slot (seeding); false when the ID is outside the slots or taken.
  bool Place(const Destination& entry);

  // Applies an update form body (AddScanToDest_N= / RemoveScanToDest_N=, percent-encoded).
  UpdateResult ApplyForm(const std::string& body);

  // The destination document the device answers its list request with.
  std::string Document() const;

  // Seed lines ("ID^HostID^DeviceDisplay^ScanToType"; blank lines and lines starting with # ignored).
  // Returns false with a reason on the first bad line.
  bool Seed(const std::string& text, std::string& why);
  std::string Dump() const;

  // Panel: a user picks the destination with this ID or display name.
  bool RaiseScanRequest(const std::string& idOrName);
  // The oldest pending request for this host, removed from the queue.
  std::optional<ScanRequest> TakeScanRequest(const std::string& hostId);
  std::size_t Pending() const { return m_pending.size(); }
  // The status document a monitor polls (see docs/devwatch.md).
  static std::string RequestDocument(const std::optional<ScanRequest>& request);

  static std::string XmlEscape(const std::string& text);

 private:
  int m_nSlots;
  std::vector<Destination> m_entries;  // sorted by ID
  std::deque<ScanRequest> m_pending;
};

}  // namespace devsim
