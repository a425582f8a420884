// What the simulated device does wrong, and when: one plan per "--fault" argument or control request.
// Used by the simulator's server to shape each response. A spec is comma-separated settings, e.g.
// "on=list,times=1,chunk=7,delay=300" or "pad=104857600" or "status=500"; docs/device-simulator.md lists
// them. A plan applies to the responses its "on" selects, "times" times (0: every time).
#pragma once

#include <cstdint>
#include <string>

namespace devsim {

enum class Target { Any, List, Update, Request };
enum class Framing { Chunked, Length, Close };
enum class BadChunk { None, Hex, Short, NoEnd };

struct FaultPlan {
  static constexpr std::int64_t kEndless = -1;
  static constexpr int kMaxDelayMs = 600 * 1000;

  Target target = Target::Any;
  int nTimes = 0;          // 0: no limit
  std::size_t nChunk = 0;  // 0: the server's default
  Framing framing = Framing::Chunked;
  bool bFramingSet = false;
  int nDelayMs = 0;
  int nChunkDelayMs = 0;
  std::int64_t nStallAfter = -1;  // bytes of the response sent before it stops sending; -1 never
  std::int64_t nDropAfter = -1;   // bytes sent before the connection is closed; -1 never
  std::int64_t nLengthDelta = 0;  // Content-Length minus the real length (framing=length)
  BadChunk badChunk = BadChunk::None;
  std::int64_t nPad = 0;    // filler bytes inside the body; kEndless for a body without end
  int nStatus = 0;          // an error page with this status instead of the answer
  std::string strBodyFile;  // the body is this file's bytes, sent as they are

  // Parses a spec; false with the reason when a setting is unknown or out of range.
  static bool Parse(const std::string& spec, FaultPlan& plan, std::string& why);
  bool Matches(Target requestTarget) const { return target == Target::Any || target == requestTarget; }
};

}  // namespace devsim
