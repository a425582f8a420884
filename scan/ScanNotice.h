// The end of a scan job told on the desktop: where its files went, or why it failed (docs/scan.md
// "Notifications"). The job notes what the notice needs as it goes (the files it delivered, the text
// of a failure box); RunInteractive calls NotifyJobEnd once the delivery returned. Nothing is sent
// when every hide bit is set (as no box is shown), for a cancelled scan, or without a session bus.
#pragma once

#include <string>
#include <vector>

class ScanApp;

namespace scanjob {

struct JobOutcome {
  std::vector<std::string> saDelivered;  // final names of the delivered files (file and application)
  std::string strMailTo;                 // e-mail: the recipients, "" for the mail program's window
  bool bMailed = false;
  bool bCancelled = false;  // the user cancelled: nothing to say
  std::string strFailure;   // the text of the failure box the job showed (or would have)
  std::string strCause;     // what went wrong and what to do, shown beside the next box
};

// The run's one job.
JobOutcome& Outcome();

// Sends the notice for a job that delivered (true) or failed (false).
void NotifyJobEnd(ScanApp& app, bool delivered);

}  // namespace scanjob
