// CreateProcessA, process handles and ShellExecuteOpen on posix_spawn (see Process.h).
#include "platform/process/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/files/FileObject.h"
#include "platform/module/Module.h"

extern char** environ;

namespace platform::process {

namespace {

// What the waiter thread learns about one child.
struct ChildState {
  pid_t pid = 0;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  DWORD exitCode = STILL_ACTIVE;
};

class ProcessObject : public HandleObject {
 public:
  explicit ProcessObject(std::shared_ptr<ChildState> state)
      : HandleObject(Kind::Process), child(std::move(state)) {}
  std::shared_ptr<ChildState> child;
};

class ThreadObject : public HandleObject {
 public:
  ThreadObject() : HandleObject(Kind::Thread) {}
};

// Reaps the child in the background: waitpid on this pid only, so other children of the caller and
// its SIGCHLD disposition stay as they are.
std::shared_ptr<ChildState> Watch(pid_t pid) {
  auto state = std::make_shared<ChildState>();
  state->pid = pid;
  std::thread([state] {
    int status = 0;
    pid_t rc;
    while ((rc = waitpid(state->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    if (rc < 0)
      state->exitCode = 0;  // reaped elsewhere (SIGCHLD ignored): the code is unknown
    else if (WIFEXITED(status))
      state->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
    else
      state->exitCode = 128u + static_cast<DWORD>(WTERMSIG(status));
    state->ended.notify_all();
  }).detach();
  return state;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0;
}

// Finds the file a program name stands for: "Name.exe" is Name first, then the name as written.
std::string Resolve(const std::string& name, bool search) {
  if (name.empty()) return std::string();
  std::vector<std::string> candidates;
  if (EndsWithExe(name)) candidates.push_back(name.substr(0, name.size() - 4));
  candidates.push_back(name);
  for (const std::string& candidate : candidates) {
    if (candidate.find('/') != std::string::npos || !search) {
      const std::string path = candidate.find('/') != std::string::npos ? candidate : "./" + candidate;
      if (IsExecutableFile(path)) return path;
      continue;
    }
    const std::string beside = platform::module::ExecutableFolder() + candidate;
    if (IsExecutableFile(beside)) return beside;
    const char* pathVar = std::getenv("PATH");
    const std::string dirs = pathVar ? pathVar : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
      const size_t colon = dirs.find(':', start);
      std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (dir.empty()) dir = ".";
      const std::string path = dir + "/" + candidate;
      if (IsExecutableFile(path)) return path;
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  return std::string();
}

std::vector<std::string> EnvironmentBlock(const char* block) {
  std::vector<std::string> vars;
  for (const char* p = block; *p; p += std::strlen(p) + 1) vars.emplace_back(p);
  return vars;
}

BOOL Fail(DWORD code) {
  platform::SetLastError(code);
  return FALSE;
}

}  // namespace

std::string ExecutableName(const std::string& windowsName) {
  return EndsWithExe(windowsName) ? windowsName.substr(0, windowsName.size() - 4) : windowsName;
}

// Spawns program with argv; returns the pid or -1 with errno set.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>* env, const char* dir, const int stdFds[3], bool searchPath) {
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  std::vector<char*> envp;
  if (env) {
    envStore = *env;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (dir) posix_spawn_file_actions_addchdir_np(&actions, dir);
  if (stdFds) {
    for (int i = 0; i < 3; ++i) {
      if (stdFds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, stdFds[i], i);
    }
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with default signal handling and an empty mask, whatever the caller set.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc =
      searchPath
          ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), env ? envp.data() : environ)
          : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env ? envp.data() : environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

// The descriptor behind a file handle of the files layer, or -1.
int DescriptorOfHandle(HANDLE handle) {
  auto* file =
      static_cast<platform::files::FileObject*>(platform::LookupHandle(handle, HandleObject::Kind::File));
  return file ? file->fd() : -1;
}

}  // namespace platform::process

using namespace platform::process;

BOOL CreateProcessA(const char* app, char* cmdLine, void* processAttributes, void* threadAttributes,
                    BOOL inherit, DWORD flags, void* env, const char* dir, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* pi) {
  if (!app && !cmdLine) return Fail(ERROR_INVALID_PARAMETER);
  const std::string cmd = cmdLine ? cmdLine : "";
  std::vector<std::string> args = SplitCommandLine(cmd);
  std::string program;
  if (app) {
    program = Resolve(app, false);
    if (args.empty()) args.push_back(app);
  } else {
    if (args.empty() || args[0].empty()) return Fail(ERROR_FILE_NOT_FOUND);
    program = Resolve(args[0], true);
    if (program.empty() && !cmd.empty() && cmd[0] != '"') {
      // Windows' reading of an unquoted path with blanks: try the text up to each blank in turn.
      for (size_t pos = cmd.find_first_of(" \t"); pos != std::string::npos && program.empty();
           pos = cmd.find_first_of(" \t", pos + 1)) {
        const std::string prefix = cmd.substr(0, pos);
        program = Resolve(prefix, true);
        if (!program.empty()) {
          std::vector<std::string> rest = SplitCommandLine("x" + cmd.substr(pos));
          rest[0] = prefix;
          args = rest;
        }
      }
    }
  }
  if (program.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  if (dir) {
    struct stat st {};
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  }
  args[0] = ExecutableName(args[0]);
  std::vector<std::string> envVars;
  if (env) envVars = EnvironmentBlock(static_cast<const char*>(env));
  int stdFds[3] = {-1, -1, -1};
  if (startupInfo && (startupInfo->dwFlags & STARTF_USESTDHANDLES)) {
    stdFds[0] = DescriptorOfHandle(startupInfo->hStdInput);
    stdFds[1] = DescriptorOfHandle(startupInfo->hStdOutput);
    stdFds[2] = DescriptorOfHandle(startupInfo->hStdError);
  }
  const pid_t pid = Spawn(program, args, env ? &envVars : nullptr, dir, stdFds, false);
  if (pid < 0) {
    const int err = errno;
    return Fail(err == ENOENT ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : platform::ErrorFromErrno(err));
  }
  auto state = Watch(pid);
  if (pi) {
    pi->hProcess = platform::RegisterHandle(new ProcessObject(state));
    pi->hThread = platform::RegisterHandle(new ThreadObject());
    pi->dwProcessId = static_cast<DWORD>(pid);
    pi->dwThreadId = static_cast<DWORD>(pid);
  }
  platform::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* process =
      static_cast<ProcessObject*>(platform::LookupHandle(handle, platform::HandleObject::Kind::Process));
  if (!process) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::shared_ptr<ChildState> child = process->child;
  std::unique_lock<std::mutex> lock(child->mutex);
  if (milliseconds == INFINITE) {
    child->ended.wait(lock, [&] { return child->done; });
    return WAIT_OBJECT_0;
  }
  return child->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return child->done; })
             ? WAIT_OBJECT_0
             : WAIT_TIMEOUT;
}

BOOL GetExitCodeProcess(HANDLE handle, DWORD* exitCode) {
  auto* process =
      static_cast<ProcessObject*>(platform::LookupHandle(handle, platform::HandleObject::Kind::Process));
  if (!process || !exitCode) return Fail(process ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(process->child->mutex);
  *exitCode = process->child->done ? process->child->exitCode : static_cast<DWORD>(STILL_ACTIVE);
  return TRUE;
}

BOOL TerminateProcess(HANDLE handle, UINT exitCode) {
  auto* process =
      static_cast<ProcessObject*>(platform::LookupHandle(handle, platform::HandleObject::Kind::Process));
  if (!process) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(process->child->mutex);
  if (process->child->done) return Fail(ERROR_ACCESS_DENIED);  // as Windows says for an ended process
  if (kill(process->child->pid, SIGKILL) != 0) return Fail(platform::ErrorFromErrno(errno));
  return TRUE;
}

BOOL ShellExecuteOpen(const char* file) {
  if (!file || !*file) return Fail(ERROR_FILE_NOT_FOUND);
  const pid_t pid = Spawn("xdg-open", {"xdg-open", file}, nullptr, nullptr, nullptr, true);
  if (pid < 0)
    return Fail(errno == ENOENT ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : platform::ErrorFromErrno(errno));
  Watch(pid);
  return TRUE;
}

DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(getpid());
}
