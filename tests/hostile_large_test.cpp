// Hundreds of MiB against KorventComp: a huge map replaced by a small one,
// and huge requests that stop half way.  Afterwards the memory must go back
// to the system once the process has been quiet for a while.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  constexpr auto releaseAfter = 1s;
  // Long enough for a whole 200 MiB request on a loaded machine, short
  // enough to wait for when requests go silent.
  constexpr auto requestTimeout = 5s;
  constexpr long slackKiB = 64 * 1024;  // what may stay resident beyond the start

  bool sanitized()
  {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
  }

  class LargeTraffic : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      if (sanitized())
        GTEST_SKIP() << "too slow under a sanitizer";
      korvent_ = std::make_unique<RunningKorvent>(std::vector<std::string>{
        "-o", "corba.request_timeout:" + std::to_string(requestTimeout.count()),
        "-o", "manager.memory.release_after:" + std::to_string(releaseAfter.count())});
      korvent_->service->setGridMap(2, 2, makeMap(small_));
      baseline_ = rssKiB();
    }

    void TearDown() override
    {
      if (!korvent_)
        return;
      std::optional<int> status = korvent_->process->stop(SIGTERM, 30s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << korvent_->process->errorOutput();
    }

    long rssKiB() const { return procStatus(korvent_->process->pid(), "VmRSS"); }

    void expectSmallMapServed()
    {
      RTC::TimedOctetSeq got;
      CORBA::Short width = 0, height = 0;
      korvent_->service->getGridMap(width, height, got);
      EXPECT_EQ(small_, octetsOf(got));
    }

    void expectMemoryReturned(const std::string& what)
    {
      const bool returned = waitFor([&] { return rssKiB() < baseline_ + slackKiB; }, releaseAfter * 3 + 10s);
      std::cout << what << ": VmRSS " << rssKiB() << " kB (start " << baseline_ << " kB), VmHWM "
                << procStatus(korvent_->process->pid(), "VmHWM") << " kB" << std::endl;
      EXPECT_TRUE(returned) << what << ": memory kept";
    }

    const std::vector<CORBA::Octet> small_{1, 2, 3, 4};
    std::unique_ptr<RunningKorvent> korvent_;
    long baseline_ = 0;
  };
}

TEST_F(LargeTraffic, HugeMapReplacedBySmallOneGivesMemoryBack)
try {
  std::vector<CORBA::Octet> huge(200u << 20);
  for (std::size_t i = 0; i < huge.size(); i += 4096)
    huge[i] = static_cast<CORBA::Octet>(i >> 12);
  korvent_->service->setGridMap(32767, 6400, makeMap(huge));
  {
    RTC::TimedOctetSeq got;
    CORBA::Short width = 0, height = 0;
    korvent_->service->getGridMap(width, height, got);
    ASSERT_EQ(huge.size(), got.data.length());
    EXPECT_EQ(huge, octetsOf(got));
  }
  huge.clear();
  huge.shrink_to_fit();
  korvent_->service->setGridMap(2, 2, makeMap(small_));
  expectSmallMapServed();
  expectMemoryReturned("200 MiB map replaced");
}
catch (const CORBA::SystemException& e) {
  ADD_FAILURE() << e._name() << " minor " << e.minor();
}

TEST_F(LargeTraffic, HugeRequestsThatGoSilentAreDroppedAndCostNothing)
{
  const IiopAddress address = iiopAddressOf(korvent_->serviceIor);
  std::vector<int> sockets;
  for (uint32_t i = 0; i < 6; ++i) {
    int fd = connectTcp(address.host, address.port);
    ASSERT_GE(fd, 0);
    sockets.push_back(fd);
    // 250 MiB declared, 8 MiB sent; those beyond the memory budget for
    // requests in flight are refused, their connection reset while sending.
    sendAll(fd, partialSetGridMapRequest(address.objectKey, i + 1, 250u << 20, 8u << 20));
  }
  for (int fd : sockets) {
    EXPECT_TRUE(closedByPeer(fd, requestTimeout * 3 + 10s)) << "an incomplete request kept its connection";
    close(fd);
  }
  expectSmallMapServed();
  expectMemoryReturned("six silent 250 MiB requests");
}
