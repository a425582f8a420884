// The desktop notice at the end of a scan job (ScanNotice.h), sent through platform/notify.
#include "scan/ScanNotice.h"

#include "app/halyard.h"
#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/notify/Notify.h"
#include "scan/ScanJobText.h"
#include "settings/SettingsSchema.h"

namespace scanjob {

namespace {

// Resource strings of the notice.
enum : UINT {
  kIdsOneTimeEntry = 85,
  kIdsScratchQs = 104,
  kIdsDoneSummary = 600,
  kIdsSavedAs = 601,
  kIdsInFolder = 602,
  kIdsMailedTo = 603,
  kIdsMailProgram = 604,
  kIdsOpenFolder = 605,
  kIdsFailedSummary = 606,
  kIdsSeeLog = 607,
};

std::string Format1(UINT id, const std::string& arg, DebugTrace& trace) {
  std::string text;
  if (!AfxFormatString1(text, id, arg.c_str())) trace.Error(TRACE_NUMBERED("LoadString failed"));
  return text;
}

}  // namespace

JobOutcome& Outcome() {
  static JobOutcome outcome;
  return outcome;
}

void NotifyJobEnd(ScanApp& app, bool delivered) {
  DebugTrace trace("NotifyJobEnd", __FILE__);
  const JobOutcome& outcome = Outcome();
  if (app.m_nHide == settings::kHideAll || outcome.bCancelled) return;

  // The one-time scan's scratch name means nothing to a user: it is named as the main dialog does.
  std::string qs = g_strQsName;
  if (qs == LoadText(kIdsScratchQs, trace, __LINE__)) qs = LoadText(kIdsOneTimeEntry, trace, __LINE__);

  platform::notify::Notification notice;
  if (!delivered) {
    notice.strSummary = Format1(kIdsFailedSummary, qs, trace);
    notice.strBody = outcome.strFailure.empty() ? LoadText(kIdsSeeLog, trace, __LINE__) : outcome.strFailure;
    notice.strIcon = "dialog-error";
  } else if (outcome.bMailed) {
    notice.strSummary = Format1(kIdsDoneSummary, qs, trace);
    notice.strBody = outcome.strMailTo.empty() ? LoadText(kIdsMailProgram, trace, __LINE__)
                                               : Format1(kIdsMailedTo, outcome.strMailTo, trace);
    notice.strIcon = "mail-send";
  } else {
    if (outcome.saDelivered.empty()) return;
    notice.strSummary = Format1(kIdsDoneSummary, qs, trace);
    const std::string& first = outcome.saDelivered.front();
    const size_t slash = first.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : first.substr(0, slash + 1);
    notice.strBody = LoadText(kIdsSavedAs, trace, __LINE__);
    // A long batch is named by its first and last files.
    const size_t n = outcome.saDelivered.size();
    for (size_t i = 0; i < n; ++i) {
      if (n > 4 && i == 2) {
        notice.strBody += "\n…";
        i = n - 2;
        continue;
      }
      const std::string& name = outcome.saDelivered[i];
      const size_t at = name.find_last_of('/');
      notice.strBody += "\n" + (at == std::string::npos ? name : name.substr(at + 1));
    }
    notice.strBody += "\n" + Format1(kIdsInFolder, folder, trace);
    notice.strIcon = "document-save";
    notice.strActionText = LoadText(kIdsOpenFolder, trace, __LINE__);
    notice.strFolder = folder;
  }
  const platform::notify::ShowResult result = platform::notify::Show(notice);
  trace.Write(std::string("Notification: ") + platform::notify::ShowResultText(result));
}

}  // namespace scanjob
