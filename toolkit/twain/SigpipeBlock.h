// Keeps a lost network scanner from ending the process: SANE's net backend writes to its sockets
// without MSG_NOSIGNAL, and a write to a saned that went away raises SIGPIPE, whose default action
// ends the program without a word. While a SigpipeBlock lives, SIGPIPE is blocked in the calling
// thread, so the write fails with EPIPE and the backend reports an error; a SIGPIPE raised meanwhile
// is discarded before the thread's mask is restored. The process's signal dispositions are untouched.
#pragma once

#include <signal.h>

namespace pxtwain {

class SigpipeBlock {
 public:
  SigpipeBlock();
  ~SigpipeBlock();
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t m_oldMask;
  bool m_bWasPending = false;
};

}  // namespace pxtwain
