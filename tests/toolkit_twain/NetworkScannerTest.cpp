// The TWAIN library's guards for scanners behind saned: the SIGPIPE block around SANE calls and the
// probe that tells a saned that has gone away from a slow one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "toolkit/twain/NetDeviceProbe.h"
#include "toolkit/twain/SigpipeBlock.h"

namespace {

using pxtwain::NetDeviceProbe;

bool PipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

bool PipePending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

TEST(SigpipeBlockTest, AWriteToALostPeerFailsInsteadOfEndingTheProcess) {
  signal(SIGPIPE, SIG_DFL);  // the default action: without the block, the process would end
  ASSERT_FALSE(PipeBlocked());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  {
    const pxtwain::SigpipeBlock block;
    EXPECT_TRUE(PipeBlocked());
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    {
      const pxtwain::SigpipeBlock nested;  // the library's calls nest (Acquire's page callback)
      EXPECT_EQ(write(fds[1], "x", 1), -1);
    }
    EXPECT_TRUE(PipeBlocked());  // the outer block still holds
  }
  EXPECT_FALSE(PipePending());  // discarded, so unblocking delivered nothing
  EXPECT_FALSE(PipeBlocked());  // the mask is as it was
  close(fds[1]);
}

TEST(NetDeviceProbeTest, HostComesFromTheNetDeviceName) {
  const struct {
    const char* device;
    const char* host;
  } cases[] = {
      {"net:127.0.0.1:test:0", "127.0.0.1"},
      {"net:scanhost:escl:http://10.0.0.2:80", "scanhost"},
      {"net:[::1]:test:0", "::1"},
      {"net:[::1", ""},  // no closing bracket
      {"net:test", ""},  // the default host of net.conf: not known here
      {"test:0", ""},    // another backend
      {"NET:h:test:0", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NetDeviceProbe::HostOf(c.device), c.host) << c.device;
}

TEST(NetDeviceProbeTest, AnswersOnlyWhileSomethingListensOnTheSanePort) {
  EXPECT_TRUE(NetDeviceProbe::Answers("test:0", 100));  // not a net device: nothing to ask
  // A loopback address of its own, so the SANE port is free whatever else runs.
  const std::string address = "127.93." + std::to_string(getpid() % 250 + 1) + ".77";
  const std::string device = "net:" + address + ":test:0";
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(6566);
  inet_pton(AF_INET, address.c_str(), &at.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << errno;
  ASSERT_EQ(listen(listener, 4), 0);
  EXPECT_TRUE(NetDeviceProbe::Answers(device, 1000));
  close(listener);
  EXPECT_FALSE(NetDeviceProbe::Answers(device, 1000));
}

}  // namespace
