// pxocr-bench [-l LANGS] [-j JOBS] OUT.pdf IMAGE...: OCR the images on JOBS worker threads (one engine
// each) and write them in order to one searchable PDF, as the scan job would.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxfile/PxFileApi.h"
#include "pxocr/PxOcrApi.h"

int main(int argc, char** argv) {
  std::string langs = "eng";
  int jobs = 2, i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::strcmp(argv[i], "-l") == 0)
      langs = argv[i + 1];
    else if (std::strcmp(argv[i], "-j") == 0)
      jobs = std::max(1, std::atoi(argv[i + 1]));
  }
  if (argc - i < 2) {
    std::fprintf(stderr, "usage: pxocr-bench [-l LANGS] [-j JOBS] OUT.pdf IMAGE...\n");
    return 2;
  }
  const std::string out = argv[i++];
  const std::vector<std::string> images(argv + i, argv + argc);
  struct Slot {
    PxPage* page = nullptr;
    PxOcrText* text = nullptr;
    int result = 0;
    bool done = false;
  };
  std::vector<Slot> slots(images.size());
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < jobs; ++w)
    workers.emplace_back([&] {
      for (size_t n; (n = next++) < images.size();) {
        PxPage* page = nullptr;
        PxOcrText* text = nullptr;
        char message[512];
        int result = PxfLoadPage(images[n].c_str(), 1, &page);
        if (result == PX_OK)
          result = PxOcrRecognize(page, langs.c_str(), nullptr, nullptr, &text, message, sizeof(message));
        if (result != PX_OK) std::fprintf(stderr, "%s: %d %s\n", images[n].c_str(), result, message);
        std::lock_guard<std::mutex> lock(mutex);
        slots[n] = {page, text, result, true};
        ready.notify_all();
      }
    });
  int status = 0;
  for (size_t n = 0; n < images.size(); ++n) {
    std::unique_lock<std::mutex> lock(mutex);
    ready.wait(lock, [&] { return slots[n].done; });
    Slot slot = slots[n];
    lock.unlock();
    if (slot.result == PX_OK &&
        PxfSavePageText(slot.page, out.c_str(), PX_TYPE_PDF_GREY, 80, 0, int(n) + 1, slot.text) != PX_OK)
      slot.result = PX_ERR_WRITE;
    if (slot.result != PX_OK) status = 1;
    PxOcrFree(slot.text);
    PxfFreePage(slot.page);
  }
  for (auto& t : workers) t.join();
  return status;
}
