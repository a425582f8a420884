// libcurl on first use (platform/module/LazyLibrary.h): the HTTP layer and the mail core call
// libcurl's functions by their own names, and these hidden definitions forward them to libcurl.so.4,
// loaded by the first call. Without it, the calls fail as libcurl does before it is set up: a null
// handle, CURLE_FAILED_INIT, and curl_easy_strerror names the missing library.
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/inet/Inet.h"
#include "platform/module/LazyLibrary.h"

// Only libcurl's own declarations are hidden; the C library's it includes come first, as they are.
#define CURL_DISABLE_TYPECHECK
#pragma GCC visibility push(hidden)
#include <curl/curl.h>
#pragma GCC visibility pop

namespace {

// libcurl has kept soname 4 since 7.16.
platform::module::LazyLibrary& Curl() {
  static auto* library = new platform::module::LazyLibrary("libcurl.so.4");
  return *library;
}

template <typename Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(Curl().Find(name));
}

}  // namespace

const std::string& platform::inet::InetLibraryFailure() {
  return Curl().Failure();
}

#define M3_CURL_FORWARD(ret, name, params, args, failed)  \
  ret name params {                                       \
    static const auto fn = Resolve<ret(*) params>(#name); \
    return fn != nullptr ? fn args : failed;              \
  }
#define M3_CURL_FORWARD_VOID(name, params, args)           \
  void name params {                                       \
    static const auto fn = Resolve<void(*) params>(#name); \
    if (fn != nullptr) fn args;                            \
  }

extern "C" {

M3_CURL_FORWARD(CURLcode, curl_global_init, (long flags), (flags), CURLE_FAILED_INIT)
M3_CURL_FORWARD(CURL*, curl_easy_init, (void), (), nullptr)
M3_CURL_FORWARD(CURLcode, curl_easy_perform, (CURL * easy), (easy), CURLE_FAILED_INIT)
M3_CURL_FORWARD_VOID(curl_easy_cleanup, (CURL * easy), (easy))
M3_CURL_FORWARD_VOID(curl_easy_reset, (CURL * easy), (easy))
M3_CURL_FORWARD(curl_slist*, curl_slist_append, (curl_slist * list, const char* text), (list, text), nullptr)
M3_CURL_FORWARD_VOID(curl_slist_free_all, (curl_slist * list), (list))

const char* curl_easy_strerror(CURLcode code) {
  static const auto fn = Resolve<const char* (*)(CURLcode)>("curl_easy_strerror");
  return fn != nullptr ? fn(code) : Curl().Failure().c_str();
}

// The option's number tells the type of its one argument, as libcurl itself reads it.
CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  using Fn = CURLcode (*)(CURL*, CURLoption, ...);
  static const auto fn = Resolve<Fn>("curl_easy_setopt");
  if (fn == nullptr) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = fn(easy, option, va_arg(ap, long));
  } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
    result = fn(easy, option, va_arg(ap, curl_off_t));
  } else {
    result = fn(easy, option, va_arg(ap, void*));  // data, callbacks and blobs are all pointers
  }
  va_end(ap);
  return result;
}

// Every CURLINFO takes one pointer to where the answer goes.
CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  using Fn = CURLcode (*)(CURL*, CURLINFO, ...);
  static const auto fn = Resolve<Fn>("curl_easy_getinfo");
  if (fn == nullptr) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, info);
  void* out = va_arg(ap, void*);
  va_end(ap);
  return fn(easy, info, out);
}

}  // extern "C"
