// Uses each library that is loaded on first use, once, and says what happened, one line each:
//   mapped-before <curl 0|1> <xml 0|1>     what /proc/self/maps held before any use
//   xml ok | xml failed <hr> <reason>     a small document through the DOM layer
//   http ok | http failed <last error> <library failure>   a connection handle (libcurl's easy handle)
//   smtp <result> <detail>                 a message to a closed loopback port through the mail core
//   mapped-after <curl 0|1> <xml 0|1>
// Usage: lazy_probe SCRATCH_FOLDER
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/inet/Inet.h"
#include "platform/mapix/SmtpClient.h"
#include "platform/xmldom/XmlDom.h"

namespace {

void PrintMapped(const char* label) {
  std::ifstream in("/proc/self/maps");
  const std::string maps((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("%s %d %d\n", label, maps.find("/libcurl") != std::string::npos ? 1 : 0,
              maps.find("/libxml2") != std::string::npos ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  PrintMapped("mapped-before");

  std::shared_ptr<IXMLDOMDocument> document;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = platform::xmldom::CreateDocument(document);
  if (SUCCEEDED(hr)) hr = document->loadXML("<a b='1'>text</a>", ok);
  if (SUCCEEDED(hr) && ok == VARIANT_TRUE)
    std::printf("xml ok\n");
  else
    std::printf("xml failed %ld %s\n", static_cast<long>(hr),
                document != nullptr ? document->LastParseError().c_str() : "");

  HINTERNET internet = InternetOpenA("lazy_probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connect =
      InternetConnectA(internet, "127.0.0.1", 1, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connect != nullptr)
    std::printf("http ok\n");
  else
    std::printf("http failed %lu %s\n", static_cast<unsigned long>(platform::GetLastError()),
                platform::inet::InetLibraryFailure().c_str());
  if (connect != nullptr) InternetCloseHandle(connect);
  if (internet != nullptr) InternetCloseHandle(internet);

  const std::string message = std::string(argv[1]) + "/message.eml";
  std::ofstream(message) << "Subject: probe\r\n\r\nprobe\r\n";
  mapix::MailProfile profile;
  profile.host = "127.0.0.1";
  profile.port = 1;  // nothing listens there
  profile.security = mapix::Security::None;
  profile.timeoutSeconds = 5;
  std::string detail;
  const mapix::SmtpError sent =
      mapix::SendMessageFile(profile, "a@example.org", {"b@example.org"}, message, &detail);
  std::printf("smtp %s | %s\n", mapix::SmtpErrorText(sent), detail.c_str());

  PrintMapped("mapped-after");
  return 0;
}
