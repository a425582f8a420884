// Test helper: a program that only records the arguments it was started with, so the utilities' tests
// can check that a command line reached a real child process as data and was never run by a shell.
// Output file: $MARLIN3_RECORDER_OUT (written to a ".part" name first, then renamed, so a reader never
// sees half a record). Each argument is written as "<length>:<bytes>\n" so blanks and newlines survive.
// While the file named by $MARLIN3_RECORDER_HOLD exists (at most 60 s) the program stays alive, so a
// test can find it in the process list.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const char* out = std::getenv("MARLIN3_RECORDER_OUT");
  if (out != nullptr && *out != '\0') {
    std::string part = std::string(out) + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr) return 2;
    std::fprintf(f, "argc=%d\n", argc);
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      std::fprintf(f, "%zu:", arg.size());
      std::fwrite(arg.data(), 1, arg.size(), f);
      std::fputc('\n', f);
    }
    if (std::fclose(f) != 0) return 2;
    if (std::rename(part.c_str(), out) != 0) return 2;
  }
  const char* hold = std::getenv("MARLIN3_RECORDER_HOLD");
  if (hold != nullptr && *hold != '\0') {
    struct stat st {};
    for (int i = 0; i < 3000 && ::stat(hold, &st) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}
