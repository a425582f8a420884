// The C entry points of libpxtwain.so over TwainSession. No exception leaves the library, and no
// SIGPIPE from a network scanner that went away ends the caller (SigpipeBlock).
#include "pxtwain/PxTwainApi.h"

#include <exception>

#include "toolkit/twain/SigpipeBlock.h"
#include "toolkit/twain/TwainSession.h"

struct PxTwnSession {
  pxtwain::TwainSession* session = nullptr;
};

namespace {

template <class Call>
int Guard(PxTwnSession* s, Call call) {
  if (s == nullptr || s->session == nullptr) return PX_TWN_E_ARGUMENT;
  pxtwain::SigpipeBlock pipe;
  try {
    return call(*s->session);
  } catch (const std::bad_alloc&) {
    return PX_TWN_E_NO_MEMORY;
  } catch (...) {
    return PX_TWN_E_STATE;
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int PxTwn_Open(PxTwnSession** session) {
  if (session == nullptr) return PX_TWN_E_ARGUMENT;
  *session = nullptr;
  pxtwain::SigpipeBlock pipe;
  try {
    pxtwain::TwainSession* inner = nullptr;
    const int rc = pxtwain::TwainSession::Open(&inner);
    if (rc != PX_TWN_OK) return rc;
    *session = new PxTwnSession{inner};
    return PX_TWN_OK;
  } catch (...) {
    return PX_TWN_E_NO_MEMORY;
  }
}

__attribute__((visibility("default"))) void PxTwn_Close(PxTwnSession* session) {
  if (session == nullptr) return;
  pxtwain::SigpipeBlock pipe;  // closing says goodbye to saned
  delete session->session;
  delete session;
}

__attribute__((visibility("default"))) int PxTwn_SetSourceTable(PxTwnSession* s,
                                                                const PxTwnSourceEntry* entries, int count) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.SetSourceTable(entries, count); });
}

__attribute__((visibility("default"))) int PxTwn_EnumSources(PxTwnSession* s, PxTwnSourceFn fn, void* ctx) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.EnumSources(fn, ctx); });
}

__attribute__((visibility("default"))) int PxTwn_GetProperties(PxTwnSession* s, PxTwainProps* props) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.GetProperties(props); });
}

__attribute__((visibility("default"))) int PxTwn_SetProperties(PxTwnSession* s, const PxTwainProps* props,
                                                               int flags) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.SetProperties(props, flags); });
}

__attribute__((visibility("default"))) int PxTwn_GetDeviceOptions(PxTwnSession* s, PxTwnDeviceOptions* o) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.GetDeviceOptions(o); });
}

__attribute__((visibility("default"))) int PxTwn_Acquire(PxTwnSession* s, const PxTwnAcquire* request) {
  return Guard(s, [&](pxtwain::TwainSession& t) { return t.Acquire(request); });
}

__attribute__((visibility("default"))) const char* PxTwn_ErrorText(int code) {
  switch (code) {
    case PX_TWN_OK:
      return "success";
    case PX_TWN_E_NO_MANAGER:
      return "SANE could not be initialised";
    case PX_TWN_E_NO_SOURCE:
      return "no such source";
    case PX_TWN_E_OPEN:
      return "the device would not open";
    case PX_TWN_E_ARGUMENT:
      return "bad argument";
    case PX_TWN_E_OPTION:
      return "the device refused a setting";
    case PX_TWN_E_START:
      return "the scan would not start";
    case PX_TWN_E_IO:
      return "the device failed while sending";
    case PX_TWN_E_JAMMED:
      return "paper jam";
    case PX_TWN_E_NO_DOCS:
      return "the document feeder is empty";
    case PX_TWN_E_COVER_OPEN:
      return "the cover is open";
    case PX_TWN_E_STALLED:
      return "the device stopped sending";
    case PX_TWN_E_NO_MEMORY:
      return "out of memory";
    case PX_TWN_E_FORMAT:
      return "unsupported image format";
    case PX_TWN_E_TOO_LARGE:
      return "page too large";
    case PX_TWN_E_STATE:
      return "wrong state";
    case PX_TWN_E_NO_PAGE:
      return "no page";
    case PX_TWN_E_UI:
      return "a window could not be shown";
    case PX_TWN_E_CANCELLED:
      return "cancelled by the user";
    default:
      return "unknown error";
  }
}

__attribute__((visibility("default"))) const char* PxTwn_LastError(PxTwnSession* s) {
  if (s == nullptr || s->session == nullptr) return "";
  return s->session->LastError().c_str();
}

}  // extern "C"
