// Fuzz target for the mail core's parsers and encoders: the first byte picks the profile parser, the
// mailbox parser with the recipient resolver, or the header and file-name encoders; the message writer
// then builds a whole message from the same text into /dev/null.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/mapix/MailProfile.h"
#include "platform/mapix/MimeWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  mapix::MailProfile profile;
  switch (data[0] % 3) {
    case 0: {
      int line = 0;
      if (mapix::ParseProfile(text, profile, &line) == mapix::ProfileError::None) {
        std::string name;
        std::string address;
        mapix::ResolveRecipient(&profile, "bob", true, name, address);
        (void)mapix::FormatProfile(profile);
      }
      break;
    }
    case 1: {
      std::string name;
      std::string address;
      if (mapix::ParseMailbox(text, name, address) && !mapix::IsPlainAddress(address)) __builtin_trap();
      break;
    }
    default: {
      const std::string subject = mapix::EncodeHeaderText(text);
      const std::string display = mapix::EncodeDisplayName(text);
      const std::string file = mapix::EncodeFilenameParameter(text);
      // No encoded text may carry a bare line break: that would start a new header.
      for (const std::string* out : {&subject, &display, &file})
        for (std::size_t i = 0; i < out->size(); ++i)
          if (((*out)[i] == '\n' && (i == 0 || (*out)[i - 1] != '\r')) ||
              ((*out)[i] == '\r' && (i + 2 >= out->size() || (*out)[i + 1] != '\n' || (*out)[i + 2] != ' ')))
            __builtin_trap();
      mapix::OutgoingMessage message;
      message.from = {text, "me@example.org"};
      message.to = {{text, "you@example.org"}};
      message.subject = text;
      message.body = text;
      message.date = 1700000000;
      const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
      if (fd >= 0) {
        mapix::WriteMessage(message, fd);
        close(fd);
      }
      break;
    }
  }
  return 0;
}
