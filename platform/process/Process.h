// Starting programs and looking at running ones, in Win32 shapes (docs/platform.md "Layers", "Conventions").
// Callers: CreateProcess of the path utilities (delivery applications, DEVWATCH), the OCR link,
// FindPathFromExe (process and module snapshots), start-up (rebuilding the command-line text).
// No shell is ever involved: a command line is split into arguments by the Windows rules (those of the
// Microsoft C runtime since 2008) and given to posix_spawn, so blanks, quotes, semicolons, $(...) and
// backticks are data. "Name.exe" runs the executable Name (same case). A started child is not waited
// for by the caller; a detached waiter thread per child reaps it (waitpid on that pid only, no SIGCHLD
// handler), so no zombie is left and the caller's own children and signal settings are untouched.
#pragma once

#include <string>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/files/Files.h"

struct STARTUPINFOA {
  DWORD cb;
  char* lpReserved;
  char* lpDesktop;
  char* lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

enum : DWORD {
  STARTF_USESTDHANDLES = 0x100,
  INFINITE = 0xFFFFFFFFu,
  WAIT_OBJECT_0 = 0,
  WAIT_TIMEOUT = 258,
  WAIT_FAILED = 0xFFFFFFFFu,
  STILL_ACTIVE = 259,
};

// Splits a command-line text into arguments with the Windows rules: the first argument (the program)
// runs to the first blank or tab outside double quotes, its quotes removed and backslashes kept; in the
// others, 2n backslashes before a quote give n backslashes and the quote opens or closes a quoted part,
// 2n+1 give n backslashes and a literal quote, other backslashes are literal, and "" inside a quoted part
// is a literal quote. An empty text gives no arguments.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Joins arguments the way Windows quotes them: an argument that is empty or holds a blank, tab, line
// break or quote is put in double quotes with the backslash rules, so SplitCommandLine(BuildCommandLine(x))
// == x. (A program name, the first argument, cannot hold a double quote on Windows either.)
std::string BuildCommandLine(const std::vector<std::string>& args);

// Starts a program. With app null, the program is the first argument of cmdLine, searched as given
// (with a "/"), else in the executable's folder, else in PATH; an unquoted program path holding blanks is
// tried at each blank as Windows does ("/opt/My Tool.exe x" finds "/opt/My Tool"). With app set, app is
// the program (no search) and cmdLine its arguments. Not found: ERROR_FILE_NOT_FOUND; a missing dir:
// ERROR_DIRECTORY. env is a Windows environment block ("A=1\0B=2\0\0") or null for this one. inherit is
// ignored: this layer opens every descriptor close-on-exec, and only standard input, output and error
// (or the handles of STARTF_USESTDHANDLES) reach the child. Both handles of pi must be closed with
// CloseHandle; the child runs on regardless.
BOOL CreateProcessA(const char* app, char* cmdLine, void* processAttributes, void* threadAttributes,
                    BOOL inherit, DWORD flags, void* env, const char* dir, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* pi);

// Waits for a process handle: WAIT_OBJECT_0 when it ended, WAIT_TIMEOUT, or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// The exit code (128 + signal for a killed child), or STILL_ACTIVE.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
BOOL TerminateProcess(HANDLE process, UINT exitCode);

// ShellExecute "open": hands the file or URL to xdg-open (found in PATH). TRUE when xdg-open started.
BOOL ShellExecuteOpen(const char* file);

DWORD GetCurrentProcessId();

// Process and module snapshots from /proc.
enum : DWORD {
  TH32CS_SNAPPROCESS = 0x2,
  TH32CS_SNAPMODULE = 0x8,
  TH32CS_SNAPMODULE32 = 0x10,
};

constexpr DWORD MAX_MODULE_NAME32 = 255;

struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  uintptr_t th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[MAX_PATH];  // the executable's file name (from /proc/<pid>/exe, else the process name)
};

struct MODULEENTRY32 {
  DWORD dwSize;
  DWORD th32ModuleID;
  DWORD th32ProcessID;
  DWORD GlblcntUsage;
  DWORD ProccntUsage;
  BYTE* modBaseAddr;
  DWORD modBaseSize;
  HMODULE hModule;
  char szModule[MAX_MODULE_NAME32 + 1];
  char szExePath[MAX_PATH];  // the first module: /proc/<pid>/exe's target
};

// TH32CS_SNAPPROCESS: every process (pid ignored). TH32CS_SNAPMODULE: the modules of pid (0: this
// process), the executable first, then the mapped libraries; INVALID_HANDLE_VALUE with
// ERROR_INVALID_PARAMETER when there is no such process. Close with CloseHandle.
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid);
// dwSize must be set to the structure's size (else ERROR_BAD_LENGTH). The end: ERROR_NO_MORE_FILES.
BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);
// ERROR_ACCESS_DENIED when the process's executable cannot be read (another user's process, a
// kernel thread, a zombie).
BOOL Module32First(HANDLE snapshot, MODULEENTRY32* entry);
BOOL Module32Next(HANDLE snapshot, MODULEENTRY32* entry);

namespace platform::process {

// "Name.exe" (".exe" in any case) becomes "Name"; other names stay as they are. Callers that look for
// a Windows program among process names (FindPathFromExe's "DEVWATCH.exe") compare with this.
std::string ExecutableName(const std::string& windowsName);

}  // namespace platform::process
