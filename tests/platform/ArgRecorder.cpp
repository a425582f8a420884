// Records how it was started, for CreateProcessA tests: writes its arguments (argv[1..], one per line,
// each as a length and the bytes so that blanks and line breaks stay visible) and its working folder to
// the file named by $M3_RECORD_FILE, then exits with 0. Uses nothing but the C library.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const char* file = std::getenv("M3_RECORD_FILE");
  if (!file) return 2;
  char temp[PATH_MAX];
  std::snprintf(temp, sizeof temp, "%s.tmp%d", file, static_cast<int>(getpid()));
  FILE* out = std::fopen(temp, "wb");
  if (!out) return 3;
  char cwd[PATH_MAX] = {};
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
  std::fprintf(out, "cwd %zu %s\n", std::strlen(cwd), cwd);
  std::fprintf(out, "argv0 %zu %s\n", std::strlen(argv[0]), argv[0]);
  for (int i = 1; i < argc; ++i) std::fprintf(out, "arg %zu %s\n", std::strlen(argv[i]), argv[i]);
  std::fclose(out);
  std::rename(temp, file);  // the test sees a complete record or none
  return 0;
}
