// One session of the TWAIN library: SANE initialised once, the list of sources (the installed table,
// handed in by the class library, first; then the SANE devices it does not name, as "vendor model"), the
// property record, the open device, and acquisition of a page or a feeder batch. Behind the C entry points of
// PxTwainApi.h. One session per process at a time (SANE has one global state); a second Open fails with
// PX_TWN_E_STATE. After a device stopped returning from a read, the session is abandoned: the stuck
// handle is never touched again and SANE is not shut down under it.
#pragma once

#include <sane/sane.h>

#include <string>
#include <vector>

#include "pxtwain/PxTwainApi.h"
#include "toolkit/twain/SourceTable.h"  // SourceEntry only: the registry is read by the class library

namespace pxtwain {

class TwainSession {
 public:
  static int Open(TwainSession** session);
  ~TwainSession();
  TwainSession(const TwainSession&) = delete;
  TwainSession& operator=(const TwainSession&) = delete;

  int SetSourceTable(const PxTwnSourceEntry* entries, int count);
  int EnumSources(PxTwnSourceFn callback, void* context);
  int GetProperties(PxTwainProps* props);
  int SetProperties(const PxTwainProps* props, int flags);
  int GetDeviceOptions(PxTwnDeviceOptions* options);
  int Acquire(const PxTwnAcquire* request);
  const std::string& LastError() const { return m_strError; }

  // The names SANE devices are offered under: "vendor model", cut to fit, "#2".. for repeats.
  static std::vector<SourceEntry> NameDevices(const std::vector<SourceEntry>& table,
                                              const std::vector<SourceEntry>& vendorModels);

 private:
  TwainSession();
  int ListSources();
  int SelectSource(const std::string& name);
  int Fail(int code, const std::string& text);
  void CloseDevice();

  std::vector<SourceEntry> m_table;
  std::vector<SourceEntry> m_sources;
  bool m_bListed = false;
  PxTwainProps m_props{};
  SANE_Handle m_hDevice = nullptr;
  std::string m_strDevice;
  std::string m_strError;
  bool m_bAbandoned = false;
};

}  // namespace pxtwain
