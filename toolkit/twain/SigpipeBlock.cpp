#include "toolkit/twain/SigpipeBlock.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace pxtwain {

namespace {

sigset_t PipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool PipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeBlock::SigpipeBlock() {
  // A SIGPIPE pending before is not ours to discard.
  m_bWasPending = PipePending();
  const sigset_t pipe = PipeSet();
  pthread_sigmask(SIG_BLOCK, &pipe, &m_oldMask);
}

SigpipeBlock::~SigpipeBlock() {
  if (!m_bWasPending && PipePending()) {
    const sigset_t pipe = PipeSet();
    const timespec now{0, 0};
    while (sigtimedwait(&pipe, nullptr, &now) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

}  // namespace pxtwain
