// The destination-list half of DeviceTalk: reading the device's destination document and posting the
// update form.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"

namespace {

// atoi's reading (leading blanks, a sign, the digits at the start, 0 if none), saturated at the int
// range instead of overflowing.
int LeadingInt(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// sscanf "%d" of a DestinationID: false when no number starts the text.
bool ReadId(const std::string& text, long long& id) {
  std::size_t i = text.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) return false;
  std::size_t start = i;
  if (text[i] == '+' || text[i] == '-') ++i;
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  id = LeadingInt(text.substr(start));
  return true;
}

}  // namespace

bool DeviceTalk::GetList(std::vector<std::string>& thisPc, std::vector<std::string>& otherPcs) {
  DebugTrace trace("GetList", __FILE__);
  Operation operation(*this);
  if (!m_bInitialized && !Initialize()) {
    trace.Error(TRACE_NUMBERED("Failed to initialize in GetList"));
    return false;
  }
  if (m_nConnection == 1) {
    if (PastDeadline("reading the list") || !SendHttpViaNetwork("GET", kListPath)) {
      trace.Error(TRACE_NUMBERED("Getting the original XML data failed over the network"));
      return false;
    }
  } else {
    ComposeHttpRequest(kRequestList);
    if (!SendHttpViaUsb()) {
      trace.Error(TRACE_NUMBERED("Getting the original XML data failed over PortBridge"));
      return false;
    }
  }

  m_nMaxDest = 0;
  m_nAvailDest = 0;
  m_saIndexes.clear();
  m_nCurrentDest = -1;
  Load_From_Text(m_strResponse.c_str());
  // A reply that is not XML at all (a cut-off or garbled answer) is a failed read, not an empty list.
  if (!Load_Refused().empty()) {
    trace.ErrorFormat("Response from device was %s", Load_Refused());
    return false;
  }
  if (!Document_Parsed()) {
    trace.ErrorFormat("Response from device is not a well-formed XML document (%s)", Parse_Error());
    return false;
  }

  long long numDests = static_cast<long long>(m_nMaxDest) - m_nAvailDest;
  if (numDests == 0)
    trace.Write("No dests on device");
  else if (numDests < 0)
    trace.Error("Number of dests invalid");
  if (numDests != static_cast<long long>(m_saIndexes.size()))
    trace.Error("Mismatch between iNumDests and m_saIndexes.GetSize()");

  for (std::size_t i = 0; numDests > 0 && i < static_cast<std::size_t>(numDests) && i < m_saIndexes.size();
       ++i) {
    const DestRecord* record = GetRecord(m_saIndexes[i]);
    if (record == nullptr) continue;
    if (record->HostID == m_strHostId)
      thisPc.push_back(record->DeviceDisplay);
    else
      otherPcs.push_back(record->DeviceDisplay);
  }

  if (numDests == static_cast<long long>(thisPc.size() + otherPcs.size())) return true;
  char text[160];
  std::snprintf(text, sizeof text, "MaxDest=%d; AvailDest=%d; ThisPc=%d; OtherPc=%d", m_nMaxDest,
                m_nAvailDest, static_cast<int>(thisPc.size()), static_cast<int>(otherPcs.size()));
  trace.Error(text);
  return false;
}

void DeviceTalk::ParseXMLDocument() {
  if (Tag_Equals("<MaxScanToDestinations>") && Parent_Path_Ends_With("<ScanToDestinations>")) {
    m_nMaxDest = LeadingInt(Get_TextValue());
  } else if (Tag_Equals("<AvailableScanToDestinations>") && Parent_Path_Ends_With("<ScanToDestinations>")) {
    m_nAvailDest = LeadingInt(Get_TextValue());
  } else if (Tag_Equals("<ScanToDestination>") && Parent_Path_Ends_With("<ScanToDestinationList>")) {
    if (!Find_Attribute("DestinationID")) return;
    DebugTrace trace("ParseXMLDocument", __FILE__);
    std::string value = Get_Attribute_Value();
    long long id = -1;
    // The table has 30 slots: any other ID is skipped, and its children go nowhere.
    if (!ReadId(value, id)) {
      trace.ErrorFormat("DestinationID '%s' is not a number; destination skipped", value);
      m_nCurrentDest = -1;
      return;
    }
    if (id < 0 || id >= kMaxDestinations) {
      trace.ErrorFormat("DestinationID %d is outside 0 to 29; destination skipped", id);
      m_nCurrentDest = -1;
      return;
    }
    m_nCurrentDest = static_cast<int>(id);
    auto& slot = m_Records[static_cast<std::size_t>(id)];
    if (slot == nullptr) {
      slot.reset(new (std::nothrow) DestRecord);
      if (slot == nullptr) {
        trace.Error("failed to get memory");
        return;
      }
    }
    m_saIndexes.push_back(m_nCurrentDest);
  } else if ((Tag_Equals("<HostID>") || Tag_Equals("<DeviceDisplay>") || Tag_Equals("<ScanToType>")) &&
             Parent_Path_Ends_With("<ScanToDestination>")) {
    DestRecord* record =
        m_nCurrentDest < 0 ? nullptr : m_Records[static_cast<std::size_t>(m_nCurrentDest)].get();
    if (record == nullptr) {
      DebugTrace trace("ParseXMLDocument", __FILE__);
      trace.Error("Memory not allocated");
      return;
    }
    std::string text = Get_TextValue();
    if (Tag_Equals("<HostID>"))
      record->HostID = text;
    else if (Tag_Equals("<DeviceDisplay>"))
      record->DeviceDisplay = text;
    else
      record->ScanToType = text;
  }
}

bool DeviceTalk::Update(const std::vector<std::string>* names, bool add) {
  DebugTrace trace("Update", __FILE__);
  Operation operation(*this);
  m_saNotTaken.clear();
  if (names == nullptr || names->empty()) {
    trace.Error("Passed in array is null or empty");
    return false;
  }
  m_saNotTaken = *names;  // until the device's list shows otherwise
  if (!m_bInitialized && !Initialize()) {
    trace.Error(TRACE_NUMBERED("Failed to initialize in Update"));
    return false;
  }
  m_strBody.clear();
  m_nBodyEntries = 0;
  for (const std::string& name : *names) AddToHttpBody(name, add);

  if (m_nConnection == 1) {
    if (PastDeadline("the update") || !SendHttpViaNetwork("POST", kUpdatePath)) {
      trace.Error(TRACE_NUMBERED("Getting the original XML data failed over the network"));
      return false;
    }
  } else {
    ComposeHttpRequest(kRequestUpdate);
    if (!SendHttpViaUsb()) {
      trace.Error(TRACE_NUMBERED("Getting the original XML data failed over PortBridge"));
      return false;
    }
  }
  return ConfirmUpdate(*names, add);
}

// The device answers an update with 200 whether or not it took each name (a full list, a name too long
// for its panel), and the form's answer page is not specified: its own list, read again, tells.
bool DeviceTalk::ConfirmUpdate(const std::vector<std::string>& names, bool add) {
  DebugTrace trace("ConfirmUpdate", __FILE__);
  std::vector<std::string> thisPc;
  std::vector<std::string> otherPcs;
  if (!GetList(thisPc, otherPcs)) {
    trace.Error("Could not read the device's list back, so the update is not confirmed");
    return false;
  }
  m_saNotTaken.clear();
  for (const std::string& name : names) {
    bool listed = false;
    for (const std::string& held : thisPc) listed = listed || held == name;
    if (listed == add) continue;
    m_saNotTaken.push_back(name);
    trace.ErrorFormat(add ? "Device did not take \"%s\": it is not in its list after the update"
                          : "Device did not remove \"%s\": it is still in its list after the update",
                      name);
  }
  return m_saNotTaken.empty();
}

void DeviceTalk::AddToHttpBody(const std::string& name, bool add) {
  DebugTrace trace("AddToHttpBody", __FILE__);
  if (!m_strBody.empty()) m_strBody += "&";
  m_strBody += add ? "AddScanToDest" : "RemoveScanToDest";
  ++m_nBodyEntries;
  m_strBody += "_" + std::to_string(m_nBodyEntries) + "=";
  std::string value = add ? m_strHostId + "^" + name + "^DestFolder" : name;
  m_strBody += UrlAndUtf8Encode(value);
}
