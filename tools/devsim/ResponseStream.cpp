#include "ResponseStream.h"

#include <algorithm>
#include <cstdio>

namespace devsim {

const char* ResponseStream::Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

ResponseStream::ResponseStream(int status, const std::string& contentType, std::string head,
                               std::int64_t filler, std::string tail, const FaultPlan& plan,
                               std::size_t defaultChunk, bool keepAlive)
    : m_strHead(std::move(head)),
      m_nFiller(filler),
      m_strTail(std::move(tail)),
      m_framing(plan.framing),
      m_badChunk(plan.badChunk),
      m_nChunk(plan.nChunk != 0 ? plan.nChunk : std::max<std::size_t>(defaultChunk, 1)) {
  // An endless body cannot announce a length.
  if (m_nFiller == FaultPlan::kEndless && m_framing == Framing::Length) m_framing = Framing::Close;
  m_strHeadLines = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                   "\r\nContent-Type: " + contentType + "\r\n";
  if (m_framing == Framing::Chunked) {
    m_strHeadLines += "Transfer-Encoding: chunked\r\n";
    if (m_badChunk == BadChunk::NoEnd) m_bCloseAfter = true;
  } else if (m_framing == Framing::Length) {
    const std::int64_t real = static_cast<std::int64_t>(m_strHead.size() + m_strTail.size()) + m_nFiller;
    const std::int64_t announced = std::max<std::int64_t>(0, real + plan.nLengthDelta);
    m_strHeadLines += "Content-Length: " + std::to_string(announced) + "\r\n";
    // A body shorter than announced can only end by closing; a longer one spills into the next response.
    if (announced > real) m_bCloseAfter = true;
  } else {
    m_bCloseAfter = true;
  }
  if (!keepAlive) m_bCloseAfter = true;
  m_strHeadLines += m_bCloseAfter ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
}

bool ResponseStream::BodyLeft() const {
  return m_nHeadPos < m_strHead.size() || m_nFiller == FaultPlan::kEndless || m_nFillerSent < m_nFiller ||
         m_nTailPos < m_strTail.size();
}

std::string ResponseStream::TakeBody(std::size_t max) {
  std::string out;
  while (out.size() < max && BodyLeft()) {
    const std::size_t room = max - out.size();
    if (m_nHeadPos < m_strHead.size()) {
      const std::size_t n = std::min(room, m_strHead.size() - m_nHeadPos);
      out.append(m_strHead, m_nHeadPos, n);
      m_nHeadPos += n;
    } else if (m_nFiller == FaultPlan::kEndless || m_nFillerSent < m_nFiller) {
      std::size_t n = room;
      if (m_nFiller != FaultPlan::kEndless) {
        n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(room), m_nFiller - m_nFillerSent));
      }
      out.append(n, 'x');
      m_nFillerSent += static_cast<std::int64_t>(n);
    } else {
      const std::size_t n = std::min(room, m_strTail.size() - m_nTailPos);
      out.append(m_strTail, m_nTailPos, n);
      m_nTailPos += n;
    }
  }
  return out;
}

std::string ResponseStream::Next() {
  switch (m_phase) {
    case Phase::Head:
      m_phase = BodyLeft() ? Phase::Body : Phase::Last;
      return m_strHeadLines;
    case Phase::Body: {
      std::string data = TakeBody(m_nChunk);
      if (!BodyLeft()) m_phase = Phase::Last;
      if (m_framing != Framing::Chunked) return data;
      char size[32];
      std::snprintf(size, sizeof size, "%zx", data.size());
      std::string sizeLine = size;
      if (m_bFirstChunk && m_badChunk == BadChunk::Hex) sizeLine = "zz";
      if (m_bFirstChunk && m_badChunk == BadChunk::Short) {
        std::snprintf(size, sizeof size, "%zx", data.size() + 16);
        sizeLine = size;
      }
      m_bFirstChunk = false;
      return sizeLine + "\r\n" + data + "\r\n";
    }
    case Phase::Last:
      m_phase = Phase::Done;
      if (m_framing == Framing::Chunked && m_badChunk != BadChunk::NoEnd) return "0\r\n\r\n";
      return std::string();
    case Phase::Done:
      break;
  }
  return std::string();
}

}  // namespace devsim
