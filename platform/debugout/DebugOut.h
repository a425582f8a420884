// OutputDebugStringA: the debugger output of Windows. Callers: the diagnostic log (every line, prefixed
// "***"), the module loader's failure reasons. Silent unless MARLIN3_DEBUGOUT is set (to anything, even
// empty); then each text goes to standard error as it is, in one write, so lines of several threads or
// processes do not interleave within a text.
#pragma once

void OutputDebugStringA(const char* text);
