// Cost of a large attachment on the Extended MAPI road: the file copied into the attachment's stream
// (OpenStreamOnFile, CopyTo) and the message built as MIME in the store, and the process's peak memory
// before and after. A 100 MB attachment must not raise the peak by anything near its size.
//   bench_mail_attachment [MEGABYTES] [FOLDER]   (default 100 MB in the current folder)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/mapix/MaildirStore.h"
#include "platform/mapix/MapiObjects.h"
#include "platform/mapix/MimeWriter.h"

namespace {

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
  const std::string folder = argc > 2 ? argv[2] : ".";
  const std::string source = folder + "/bench-attachment.bin";
  const std::string storeRoot = folder + "/bench-store";
  {
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<char> block(1 << 20);
    unsigned state = 1;
    for (long m = 0; m < megabytes; ++m) {
      for (auto& b : block) b = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
      if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) return 1;
    }
    close(fd);
  }
  const std::string absolute =
      std::string(realpath(storeRoot.substr(0, storeRoot.rfind('/')).c_str(), nullptr)) +
      storeRoot.substr(storeRoot.rfind('/'));
  mapix::MaildirStore store(absolute);
  if (store.Open() != mapix::StoreError::None) return 1;
  const long before = PeakKiB();

  auto start = std::chrono::steady_clock::now();
  IStream* file = nullptr;
  if (FAILED(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, source.c_str(), nullptr, &file)))
    return 1;
  std::string dataPath;
  int dataFd = -1;
  store.CreateTemp(mapix::MaildirStore::Folder::Outbox, dataPath, dataFd);
  IStream* target = new mapix::FileStream(dataFd, true);
  STATSTG stat{};
  file->Stat(&stat, STATFLAG_NONAME);
  ULARGE_INTEGER written{};
  file->CopyTo(target, stat.cbSize, nullptr, &written);
  target->Release();
  file->Release();
  const double copySeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  mapix::OutgoingMessage message;
  message.from = {"Bench", "bench@example.org"};
  message.to = {{"", "to@example.org"}};
  message.subject = "Large attachment";
  message.attachments = {{dataPath, "large.bin"}};
  std::string messagePath;
  int messageFd = -1;
  store.CreateTemp(mapix::MaildirStore::Folder::Outbox, messagePath, messageFd);
  const mapix::MimeError error = mapix::WriteMessage(message, messageFd);
  close(messageFd);
  const double mimeSeconds = Seconds(start);
  const long after = PeakKiB();

  std::printf(
      "attachment %ld MB: copy into the stream %.2f s (%.0f MB/s), MIME message %.2f s (%.0f MB/s)%s\n",
      megabytes, copySeconds, megabytes / copySeconds, mimeSeconds, megabytes / mimeSeconds,
      error == mapix::MimeError::None ? "" : " FAILED");
  std::printf("peak memory: %ld KiB before, %ld KiB after (+%ld KiB)\n", before, after, after - before);
  unlink(dataPath.c_str());
  unlink(messagePath.c_str());
  unlink(source.c_str());
  return error == mapix::MimeError::None && written.QuadPart == stat.cbSize.QuadPart ? 0 : 1;
}
