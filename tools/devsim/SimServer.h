// The simulated device's web server: one poll loop, one thread, serving the device's documents and
// update form on loopback HTTP endpoints and on USB-tunnel endpoints (loopback TCP or Unix sockets that
// carry the same raw HTTP stream), plus the "/sim/" control requests that never get faults.
// Called by the simulator's main. Bounded: connection count, request sizes, lifetime; it stops on
// SIGTERM, SIGINT or SIGHUP, on "/sim/quit", or when its lifetime ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "DestinationList.h"
#include "EndpointAddress.h"
#include "FaultPlan.h"

namespace devsim {

struct SimOptions {
  std::vector<EndpointAddress> endpoints;
  int nSlots = 30;
  std::vector<FaultPlan> faults;
  std::size_t nChunk = 1024;
  int nRefuse = 0;         // device connections accepted and reset at once, counted from the start
  int nListenDelayMs = 0;  // device endpoints open only after this long (connections refused until then)
  int nLifetimeSec = 600;
  std::string strStateOut;
  std::string strReadyFile;
  std::vector<std::pair<int, std::string>> panel;  // (after ms, destination ID or name)
};

class SimServer {
 public:
  SimServer(SimOptions options, DestinationList list, std::FILE* log);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Opens the endpoints (those not delayed) and runs until stopped; returns the exit code.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;
  struct Listener;
  struct Connection;

  bool OpenListener(const EndpointAddress& spec);
  void Accept(Listener& listener);
  void ReadFrom(Connection& conn);
  void StartResponse(Connection& conn);
  void Pump(Connection& conn);
  void Answer(Connection& conn, const struct HttpRequest& request);
  void AnswerControl(Connection& conn, const struct HttpRequest& request);
  void Respond(Connection& conn, int status, const std::string& type, const std::string& body,
               const FaultPlan& plan);
  FaultPlan TakeFault(Target target);
  void SaveState();
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int MsLeft(Clock::time_point when) const;

  SimOptions m_options;
  DestinationList m_list;
  std::FILE* m_log;
  Clock::time_point m_start;
  std::vector<std::unique_ptr<Listener>> m_listeners;
  std::vector<std::unique_ptr<Connection>> m_connections;
  std::deque<FaultPlan> m_faults;
  int m_nRefused = 0;
  bool m_bQuit = false;
};

}  // namespace devsim
