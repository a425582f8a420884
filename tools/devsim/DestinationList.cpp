#include "DestinationList.h"

#include <algorithm>
#include <charconv>

#include "FormCodec.h"

namespace devsim {

namespace {

// Texts go into XML and, over USB, into a body that must hold no CR LF; control characters are refused.
bool UsableText(const std::string& text) {
  if (text.size() > DestinationList::kMaxTextBytes) return false;
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

bool ParseId(const std::string& text, int& id) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, id);
  return ec == std::errc() && ptr == end;
}

}  // namespace

DestinationList::DestinationList(int nSlots) : m_nSlots(std::clamp(nSlots, 1, kMaxSlots)) {}

std::optional<int> DestinationList::Add(const std::string& hostId, const std::string& display,
                                        const std::string& type) {
  if (display.empty() || !UsableText(hostId) || !UsableText(display) || !UsableText(type))
    return std::nullopt;
  for (const Destination& entry : m_entries) {
    if (entry.strHostId == hostId && entry.strDisplay == display) return entry.nId;
  }
  int id = 0;
  for (const Destination& entry : m_entries) {  // sorted: the first gap is the lowest free slot
    if (entry.nId != id) break;
    ++id;
  }
  if (id >= m_nSlots) return std::nullopt;
  Place(Destination{id, hostId, display, type});
  return id;
}

int DestinationList::RemoveByName(const std::string& display) {
  const auto before = m_entries.size();
  std::erase_if(m_entries, [&](const Destination& entry) { return entry.strDisplay == display; });
  return static_cast<int>(before - m_entries.size());
}

bool DestinationList::Place(const Destination& entry) {
  if (entry.nId < 0 || entry.nId >= m_nSlots) return false;
  if (!UsableText(entry.strHostId) || !UsableText(entry.strDisplay) || !UsableText(entry.strType))
    return false;
  auto at = std::lower_bound(m_entries.begin(), m_entries.end(), entry.nId,
                             [](const Destination& e, int id) { return e.nId < id; });
  if (at != m_entries.end() && at->nId == entry.nId) return false;
  m_entries.insert(at, entry);
  return true;
}

UpdateResult DestinationList::ApplyForm(const std::string& body) {
  UpdateResult result;
  for (const auto& [key, value] : FormCodec::Parse(body)) {
    if (key.starts_with("AddScanToDest_")) {
      // "host^name^folder": the host ends at the first "^", the folder starts after the last, so a name
      // may hold "^" itself.
      const std::size_t first = value.find('^');
      const std::size_t last = value.rfind('^');
      if (first == std::string::npos) {
        ++result.nRefused;
        continue;
      }
      const std::string host = value.substr(0, first);
      const std::string name =
          first == last ? value.substr(first + 1) : value.substr(first + 1, last - first - 1);
      const std::string type = first == last ? std::string() : value.substr(last + 1);
      if (Add(host, name, type)) {
        ++result.nAdded;
      } else {
        ++result.nRefused;
      }
    } else if (key.starts_with("RemoveScanToDest_")) {
      result.nRemoved += RemoveByName(value);
    } else {
      ++result.nRefused;
    }
  }
  return result;
}

std::string DestinationList::XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One line without CR LF: the USB clean-up of the program treats every CR LF as a chunk boundary.
std::string DestinationList::Document() const {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ScanToDestinations>";
  doc += "<MaxScanToDestinations>" + std::to_string(m_nSlots) + "</MaxScanToDestinations>";
  doc += "<AvailableScanToDestinations>" + std::to_string(m_nSlots - static_cast<int>(m_entries.size())) +
         "</AvailableScanToDestinations><ScanToDestinationList>";
  for (const Destination& entry : m_entries) {
    doc += "<ScanToDestination DestinationID=\"" + std::to_string(entry.nId) + "\"><HostID>" +
           XmlEscape(entry.strHostId) + "</HostID><DeviceDisplay>" + XmlEscape(entry.strDisplay) +
           "</DeviceDisplay><ScanToType>" + XmlEscape(entry.strType) + "</ScanToType></ScanToDestination>";
  }
  doc += "</ScanToDestinationList></ScanToDestinations>";
  return doc;
}

bool DestinationList::Seed(const std::string& text, std::string& why) {
  std::size_t start = 0;
  int lineNo = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    // ID^HostID^DeviceDisplay[^ScanToType]; the display may hold "^" when the type is given.
    const std::size_t a = line.find('^');
    const std::size_t b = a == std::string::npos ? a : line.find('^', a + 1);
    Destination entry;
    if (b == std::string::npos || !ParseId(line.substr(0, a), entry.nId)) {
      why = "line " + std::to_string(lineNo) + ": expected ID^HostID^DeviceDisplay^ScanToType";
      return false;
    }
    entry.strHostId = line.substr(a + 1, b - a - 1);
    const std::size_t c = line.rfind('^');
    if (c == b) {
      entry.strDisplay = line.substr(b + 1);
    } else {
      entry.strDisplay = line.substr(b + 1, c - b - 1);
      entry.strType = line.substr(c + 1);
    }
    if (entry.strDisplay.empty() || !Place(entry)) {
      why = "line " + std::to_string(lineNo) + ": ID outside the slots, taken, or text unusable";
      return false;
    }
  }
  return true;
}

std::string DestinationList::Dump() const {
  std::string out =
      "# slots=" + std::to_string(m_nSlots) + " pending=" + std::to_string(m_pending.size()) + "\n";
  for (const Destination& entry : m_entries) {
    out += std::to_string(entry.nId) + "^" + entry.strHostId + "^" + entry.strDisplay + "^" + entry.strType +
           "\n";
  }
  return out;
}

bool DestinationList::RaiseScanRequest(const std::string& idOrName) {
  if (m_pending.size() >= kMaxPending) return false;
  int id = -1;
  const bool byId = ParseId(idOrName, id);
  for (const Destination& entry : m_entries) {
    if ((byId && entry.nId == id) || (!byId && entry.strDisplay == idOrName)) {
      m_pending.push_back(ScanRequest{entry.nId, entry.strHostId, entry.strDisplay});
      return true;
    }
  }
  return false;
}

std::optional<ScanRequest> DestinationList::TakeScanRequest(const std::string& hostId) {
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->strHostId == hostId) {
      ScanRequest request = *it;
      m_pending.erase(it);
      return request;
    }
  }
  return std::nullopt;
}

std::string DestinationList::RequestDocument(const std::optional<ScanRequest>& request) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ScanToRequest>";
  if (!request) return doc + "<Pending>0</Pending></ScanToRequest>";
  doc += "<Pending>1</Pending><DestinationID>" + std::to_string(request->nId) + "</DestinationID><HostID>" +
         XmlEscape(request->strHostId) + "</HostID><DeviceDisplay>" + XmlEscape(request->strDisplay) +
         "</DeviceDisplay></ScanToRequest>";
  return doc;
}

}  // namespace devsim
