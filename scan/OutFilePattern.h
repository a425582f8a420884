// Placeholders in "OutFile" (docs/scan.md "Names with the date and a counter"): $(YYYY) $(YY) $(MM)
// $(DD) $(hh) $(mm) $(ss) give the job's local date and time, $(n) a counter, $(nnn) the counter
// padded with zeros to as many digits as there are n. The counter is the smallest number from 1 that
// makes every name of the job free: the first and, for several files, the numbered ones after it.
// Only the file name part is expanded, and only digits are ever put in, so an expanded name never
// holds a "/" nor leaves the folder the user gave. An unknown $(X) stays as it is, logged.
// A name without "$(" is returned unchanged. Callers: DoFile and GetOutFileName.
#pragma once

#include <ctime>
#include <functional>
#include <string>

class DebugTrace;

namespace scanjob {

// outFile expanded for a job of files files at time now; ext is added for the free-name check when
// the name has no "."; exists tells whether a name is taken.
std::string ExpandOutFile(const std::string& outFile, const std::tm& now, size_t files,
                          const std::string& ext, const std::function<bool(const std::string&)>& exists,
                          DebugTrace& trace);

// The local time of now, for ExpandOutFile.
std::tm LocalNow();

}  // namespace scanjob
