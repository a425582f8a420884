// Windows command-line splitting and quoting (see Process.h). The rules are those of the Microsoft C
// runtime's parse_cmdline since Visual C++ 2008 ("Parsing C++ command-line arguments" in Microsoft's
// C++ documentation), which CommandLineToArgvW shares except for "" inside a quoted part.
#include "platform/process/Process.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& cmd) {
  std::vector<std::string> args;
  const size_t n = cmd.size();
  if (n == 0) return args;
  size_t i = 0;
  std::string arg;
  bool quoted = false;
  // The program name: quotes toggle and vanish, backslashes are plain characters.
  while (i < n) {
    const char c = cmd[i];
    if (c == '"') {
      quoted = !quoted;
      ++i;
      continue;
    }
    if (!quoted && IsBlank(c)) break;
    arg += c;
    ++i;
  }
  args.push_back(arg);
  for (;;) {
    while (i < n && IsBlank(cmd[i])) ++i;
    if (i >= n) break;
    arg.clear();
    quoted = false;
    for (;;) {
      size_t slashes = 0;
      while (i < n && cmd[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < n && cmd[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          arg += '"';
          ++i;
        } else if (quoted && i + 1 < n && cmd[i + 1] == '"') {
          arg += '"';  // "" inside a quoted part: a literal quote, still quoted
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      arg.append(slashes, '\\');
      if (i >= n || (!quoted && IsBlank(cmd[i]))) break;
      arg += cmd[i++];
    }
    args.push_back(arg);
  }
  return args;
}

std::string BuildCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (k > 0) out += ' ';
    if (k == 0) {
      // The program name knows no escapes: quote it whole when it holds a blank.
      if (arg.empty() || arg.find_first_of(" \t") != std::string::npos)
        out += '"' + arg + '"';
      else
        out += arg;
      continue;
    }
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
      out += arg;
      continue;
    }
    out += '"';
    for (size_t i = 0;; ++i) {
      size_t slashes = 0;
      while (i < arg.size() && arg[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i == arg.size()) {
        out.append(slashes * 2, '\\');  // they stand before the closing quote
        break;
      }
      if (arg[i] == '"') {
        out.append(slashes * 2 + 1, '\\');
        out += '"';
      } else {
        out.append(slashes, '\\');
        out += arg[i];
      }
    }
    out += '"';
  }
  return out;
}
