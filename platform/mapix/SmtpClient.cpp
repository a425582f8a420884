#include "platform/mapix/SmtpClient.h"

#include <curl/curl.h>

#include <cstdio>
#include <mutex>

namespace mapix {

namespace {

SmtpError g_faultForTest = SmtpError::None;

struct Upload {
  std::FILE* file = nullptr;
  bool readError = false;
};

std::size_t ReadChunk(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const std::size_t got = std::fread(buffer, 1, size * count, upload->file);
  if (got == 0 && std::ferror(upload->file)) {
    upload->readError = true;
    return CURL_READFUNC_ABORT;
  }
  return got;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The SMTP reply code libcurl saw last tells which step the server refused.
SmtpError FromCurl(CURLcode code, bool readError) {
  if (readError) return SmtpError::MessageUnreadable;
  switch (code) {
    case CURLE_OK:
      return SmtpError::None;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return SmtpError::ConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return SmtpError::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_USE_SSL_FAILED:
      return SmtpError::TlsFailed;
    case CURLE_LOGIN_DENIED:
      return SmtpError::AuthFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
      return SmtpError::ConnectionLost;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_READ_ERROR:
      return SmtpError::MessageUnreadable;
    default:
      break;
  }
  return SmtpError::Failed;
}

}  // namespace

const char* SmtpErrorText(SmtpError error) {
  switch (error) {
    case SmtpError::None:
      return "sent";
    case SmtpError::NoPassword:
      return "the password source gave no password";
    case SmtpError::ConnectFailed:
      return "the mail server could not be reached";
    case SmtpError::TlsFailed:
      return "the secure connection to the mail server failed";
    case SmtpError::AuthFailed:
      return "the mail server refused the user name or password";
    case SmtpError::SenderRefused:
      return "the mail server refused the sender";
    case SmtpError::RecipientRefused:
      return "the mail server refused a recipient";
    case SmtpError::DataRefused:
      return "the mail server refused the message";
    case SmtpError::ConnectionLost:
      return "the mail server closed the connection before taking the message";
    case SmtpError::TimedOut:
      return "the mail server stopped answering";
    case SmtpError::MessageUnreadable:
      return "the message file could not be read";
    case SmtpError::NoRecipients:
      return "the message has no recipients";
    case SmtpError::Failed:
      return "sending failed";
  }
  return "unknown error";
}

void SetSmtpFaultForTest(SmtpError error) {
  g_faultForTest = error;
}

SmtpError SendMessageFile(const MailProfile& profile, const std::string& from,
                          const std::vector<std::string>& recipients, const std::string& messagePath,
                          std::string* detail) {
  if (g_faultForTest != SmtpError::None) return g_faultForTest;
  if (recipients.empty()) return SmtpError::NoRecipients;
  if (!IsPlainAddress(from)) return SmtpError::SenderRefused;
  for (const auto& to : recipients)
    if (!IsPlainAddress(to)) return SmtpError::RecipientRefused;
  std::string password;
  if (!profile.user.empty()) {
    if (ReadPassword(profile, password) != ProfileError::None) return SmtpError::NoPassword;
  }
  Upload upload;
  upload.file = std::fopen(messagePath.c_str(), "rbe");
  if (upload.file == nullptr) return SmtpError::MessageUnreadable;
  std::fseek(upload.file, 0, SEEK_END);
  const long size = std::ftell(upload.file);
  std::fseek(upload.file, 0, SEEK_SET);

  InitCurlOnce();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    std::fclose(upload.file);
    return SmtpError::Failed;
  }
  std::string host = profile.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  const std::string url = std::string(profile.security == Security::Tls ? "smtps://" : "smtp://") + host +
                          ":" + std::to_string(profile.port);
  const std::string mailFrom = "<" + from + ">";
  curl_slist* rcpt = nullptr;
  for (const auto& to : recipients) rcpt = curl_slist_append(rcpt, ("<" + to + ">").c_str());
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  if (profile.security == Security::StartTls)
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!profile.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, profile.caFile.c_str());
  if (!profile.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, profile.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadChunk);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  if (size >= 0) curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  const long timeout = profile.timeoutSeconds;
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
  // A transfer that moves nothing for the timeout is given up; a slow but moving one goes on.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
  const CURLcode code = curl_easy_perform(curl);
  long response = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
  std::fclose(upload.file);
  curl_slist_free_all(rcpt);
  curl_easy_cleanup(curl);
  // Overwrite the copy of the password before its memory is given back.
  for (char& c : password) c = '\0';
  if (detail != nullptr) *detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  SmtpError result = FromCurl(code, upload.readError);
  // libcurl reports a refused MAIL, RCPT or DATA with general codes; the last reply code and its text
  // tell which step the server refused.
  if (code != CURLE_OK && response >= 400 &&
      (result == SmtpError::Failed || result == SmtpError::ConnectionLost)) {
    const std::string text = errorText;
    if (text.find("MAIL") != std::string::npos)
      result = SmtpError::SenderRefused;
    else if (text.find("RCPT") != std::string::npos)
      result = SmtpError::RecipientRefused;
    else
      result = SmtpError::DataRefused;
  }
  return result;
}

}  // namespace mapix
