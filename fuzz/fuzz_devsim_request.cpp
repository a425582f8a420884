// Feeds arbitrary bytes to the device simulator's request reader, in pieces whose sizes come from the
// input, and every body it reads to the update form and the seed reader of the destination list.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DestinationList.h"
#include "HttpRequestReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  devsim::HttpRequestReader reader;
  devsim::DestinationList list(8);
  std::string buffer;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    buffer += input.substr(at, piece);
    devsim::HttpRequest request;
    while (reader.Feed(buffer, request) == devsim::HttpRequestReader::Status::Ready) {
      list.ApplyForm(request.strBody);
      list.RaiseScanRequest(request.Query());
      list.TakeScanRequest(request.Header("Host"));
    }
  }
  std::string why;
  devsim::DestinationList seeded(8);
  seeded.Seed(input, why);
  if (list.Entries().size() > 8 || list.Document().find("\r\n") != std::string::npos) __builtin_trap();
  return 0;
}
