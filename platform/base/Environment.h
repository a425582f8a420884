// Environment variables, environment expansion, sleeping and the tick count, in their Win32 shapes.
// Callers: MyReg::Expand (REG_EXPAND_SZ values), the scan job's pauses, time-outs in the device code.
// ExpandEnvironmentStringsA keeps Windows' %VAR% syntax on the Linux environment: a name is looked up
// exactly first, then ignoring ASCII case (Windows names are case-insensitive); an unknown variable
// stays as written (Windows copies its '%' and goes on scanning after it, so "%NO%HOME%" keeps "%NO"
// and expands "%HOME%").
#pragma once

#include "platform/base/WinTypes.h"

// Expands %VAR% references of src into dst (size characters, terminating zero included). Returns the
// size needed including the terminating zero; when that is larger than size, dst holds as much as fits
// (always zero-terminated when size > 0). Returns 0 with ERROR_INVALID_PARAMETER for a null src.
DWORD ExpandEnvironmentStringsA(const char* src, char* dst, DWORD size);

// Copies the variable's value into buf. Returns its length without the terminating zero; when buf is
// too small (or null), the size needed including the terminating zero. 0 with ERROR_ENVVAR_NOT_FOUND
// when the variable is not set.
DWORD GetEnvironmentVariableA(const char* name, char* buf, DWORD size);

// Sets the variable for this process and the programs it starts; a null value removes it. FALSE with
// ERROR_INVALID_PARAMETER for a null or empty name or one holding '='. Not to be called while other
// threads read the environment (the C library's environment has no lock).
BOOL SetEnvironmentVariableA(const char* name, const char* value);

// Suspends the calling thread for ms milliseconds (0 yields).
void Sleep(DWORD ms);

// Milliseconds since an arbitrary fixed point (the monotonic clock); wraps like Windows' after 49.7 days.
DWORD GetTickCount();
