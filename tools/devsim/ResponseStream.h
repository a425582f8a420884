// One HTTP response of the simulated device, produced piece by piece so that huge or endless bodies
// never sit in memory. Used by the simulator's server, which writes the pieces as the socket takes them.
// The body is head + filler + tail; framing is chunked (RFC 9112 7.1), Content-Length, or end by close.
// The fault plan's framing faults (wrong length, broken chunk lines, no last chunk) are applied here.
#pragma once

#include <cstdint>
#include <string>

#include "FaultPlan.h"

namespace devsim {

class ResponseStream {
 public:
  ResponseStream(int status, const std::string& contentType, std::string head, std::int64_t filler,
                 std::string tail, const FaultPlan& plan, std::size_t defaultChunk, bool keepAlive);

  // The next piece of wire bytes: the status line and headers first, then one chunk (or body slice) per
  // call, then the last chunk. Empty once Done().
  std::string Next();
  bool Done() const { return m_phase == Phase::Done; }
  // The connection must close after this response (close framing, a body shorter than announced, ...).
  bool CloseAfter() const { return m_bCloseAfter; }

  static const char* Reason(int status);

 private:
  enum class Phase { Head, Body, Last, Done };
  std::string TakeBody(std::size_t max);
  bool BodyLeft() const;

  Phase m_phase = Phase::Head;
  std::string m_strHeadLines;
  std::string m_strHead;
  std::int64_t m_nFiller;  // FaultPlan::kEndless: no end
  std::string m_strTail;
  std::size_t m_nHeadPos = 0;
  std::int64_t m_nFillerSent = 0;
  std::size_t m_nTailPos = 0;
  Framing m_framing;
  BadChunk m_badChunk;
  std::size_t m_nChunk;
  bool m_bFirstChunk = true;
  bool m_bCloseAfter = false;
};

}  // namespace devsim
