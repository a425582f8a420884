// Shared helpers of the file library (see FileCommon.h).
#include "toolkit/file/FileCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace pxfile {

namespace {
// 100 megapixels: a letter page at 1200 dpi in colour fits, a hostile header does not.
int64_t g_nPixelLimit = 100LL * 1000 * 1000;
}  // namespace

int64_t PixelLimit() {
  return g_nPixelLimit;
}
void SetPixelLimit(int64_t pixels) {
  g_nPixelLimit = pixels > 0 ? pixels : 100LL * 1000 * 1000;
}

int CheckPageSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return PX_ERR_CORRUPT;
  if (width > PX_MAX_DIMENSION || height > PX_MAX_DIMENSION) return PX_ERR_TOO_LARGE;
  if (width * height > g_nPixelLimit) return PX_ERR_TOO_LARGE;
  if (width * height * 3 > PX_MAX_PAGE_BYTES) return PX_ERR_TOO_LARGE;
  return PX_OK;
}

FILE* OpenRegularFile(const std::string& path, int& error) {
  error = PX_ERR_OPEN;
  // Non-blocking, so that a FIFO without a writer does not hold the open; checked on the open file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE* file = ::fdopen(fd, "rb");
  if (!file) {
    ::close(fd);
    return nullptr;
  }
  error = PX_OK;
  return file;
}

int ReadFile(const std::string& path, std::vector<uint8_t>& data) {
  int result = PX_OK;
  FILE* file = OpenRegularFile(path, result);
  if (!file) return result;
  if (std::fseek(file, 0, SEEK_END) != 0) result = PX_ERR_READ;
  long size = result == PX_OK ? std::ftell(file) : -1;
  if (size < 0)
    result = PX_ERR_READ;
  else if (size > kMaxFileBytes)
    result = PX_ERR_TOO_LARGE;
  if (result == PX_OK) {
    std::rewind(file);
    data.resize(size_t(size));
    if (size > 0 && std::fread(data.data(), 1, data.size(), file) != data.size()) result = PX_ERR_READ;
  }
  std::fclose(file);
  return result;
}

int OpenForWriting(const std::string& path, int accessFlags, bool truncate) {
  const int fd =
      ::open(path.c_str(), accessFlags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
      (truncate && ftruncate(fd, 0) != 0)) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int WriteFile(const std::string& path, const uint8_t* data, size_t size, bool append) {
  const int fd = OpenForWriting(path, O_WRONLY | (append ? O_APPEND : 0), !append);
  if (fd < 0) return PX_ERR_WRITE;
  struct stat st {};
  const off_t before = fstat(fd, &st) == 0 ? st.st_size : 0;
  const int kept = append ? dup(fd) : -1;  // to cut an appended file back after the stream is closed
  FILE* file = fdopen(fd, append ? "ab" : "wb");
  if (!file) {
    ::close(fd);
    if (kept >= 0) ::close(kept);
    return PX_ERR_WRITE;
  }
  bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  ok = (std::fflush(file) == 0) && ok;
  ok = (std::fclose(file) == 0) && ok;
  if (!ok && !append) ::unlink(path.c_str());
  if (!ok && kept >= 0 && ftruncate(kept, before) != 0) ::unlink(path.c_str());
  if (kept >= 0) ::close(kept);
  return ok ? PX_OK : PX_ERR_WRITE;
}

// The factor runs from 2 (best) to 255 (smallest file), in two straight pieces: 2..100 maps to
// JPEG quality 100..75 (100, the program's default, is libjpeg's usual 75), 100..255 to 75..5.
// Values outside 2..255 are clamped.
int JpegQualityFor(int factor) {
  if (factor < 2) factor = 2;
  if (factor > 255) factor = 255;
  if (factor <= 100) return 100 - ((factor - 2) * 25 + 49) / 98;
  return 75 - ((factor - 100) * 70 + 77) / 155;
}

}  // namespace pxfile
