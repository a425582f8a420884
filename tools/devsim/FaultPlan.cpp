#include "FaultPlan.h"

#include <charconv>

namespace devsim {

namespace {

bool Number(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& out) {
  std::int64_t value = 0;
  const char* begin = text.data() + (text.starts_with('+') ? 1 : 0);
  auto [ptr, ec] = std::from_chars(begin, text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty() || value < low || value > high) {
    return false;
  }
  out = value;
  return true;
}

constexpr std::int64_t kMaxBytes = std::int64_t{1} << 40;

}  // namespace

bool FaultPlan::Parse(const std::string& spec, FaultPlan& plan, std::string& why) {
  plan = FaultPlan();
  std::size_t start = 0;
  while (start <= spec.size()) {
    std::size_t end = spec.find(',', start);
    if (end == std::string::npos) end = spec.size();
    const std::string item = spec.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    std::int64_t n = 0;
    bool ok = true;
    if (key == "on") {
      if (value == "any")
        plan.target = Target::Any;
      else if (value == "list")
        plan.target = Target::List;
      else if (value == "update")
        plan.target = Target::Update;
      else if (value == "request")
        plan.target = Target::Request;
      else
        ok = false;
    } else if (key == "times") {
      ok = Number(value, 0, 1000000, n);
      plan.nTimes = static_cast<int>(n);
    } else if (key == "chunk") {
      ok = Number(value, 1, 1 << 20, n);
      plan.nChunk = static_cast<std::size_t>(n);
    } else if (key == "framing") {
      plan.bFramingSet = true;
      if (value == "chunked")
        plan.framing = Framing::Chunked;
      else if (value == "length")
        plan.framing = Framing::Length;
      else if (value == "close")
        plan.framing = Framing::Close;
      else
        ok = false;
    } else if (key == "delay") {
      ok = Number(value, 0, kMaxDelayMs, n);
      plan.nDelayMs = static_cast<int>(n);
    } else if (key == "chunk-delay") {
      ok = Number(value, 0, kMaxDelayMs, n);
      plan.nChunkDelayMs = static_cast<int>(n);
    } else if (key == "stall") {
      ok = Number(value.empty() ? "0" : value, 0, kMaxBytes, plan.nStallAfter);
    } else if (key == "drop") {
      ok = Number(value.empty() ? "0" : value, 0, kMaxBytes, plan.nDropAfter);
    } else if (key == "length-delta") {
      ok = Number(value, -kMaxBytes, kMaxBytes, plan.nLengthDelta);
      if (!plan.bFramingSet) plan.framing = Framing::Length;
    } else if (key == "badchunk") {
      if (value == "hex")
        plan.badChunk = BadChunk::Hex;
      else if (value == "short")
        plan.badChunk = BadChunk::Short;
      else if (value == "noend")
        plan.badChunk = BadChunk::NoEnd;
      else
        ok = false;
    } else if (key == "pad") {
      if (value == "endless")
        plan.nPad = kEndless;
      else
        ok = Number(value, 0, kMaxBytes, plan.nPad);
    } else if (key == "status") {
      ok = Number(value, 100, 599, n);
      plan.nStatus = static_cast<int>(n);
    } else if (key == "body") {
      plan.strBodyFile = value;
      ok = !value.empty();
    } else {
      why = "unknown fault setting \"" + key + "\"";
      return false;
    }
    if (!ok) {
      why = "bad value for fault setting \"" + key + "\": \"" + value + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace devsim
