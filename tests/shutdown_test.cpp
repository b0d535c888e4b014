// KorventComp stopping while its peers misbehave: a connected consumer that
// is stopped, a name server that stopped answering, a client that stopped
// reading a large reply.  Each ending is timed; the bound is the one the
// component promises (call timeout + transition timeout + 2 s) plus slack
// for a loaded machine.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "RawGiop.h"
#include "TemporaryFolder.h"

#include "mapio/StoreFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
  constexpr auto callTimeout = 1s;
  constexpr auto transitionTimeout = 5s;  // what startKorventComp sets
  constexpr auto promised = callTimeout + transitionTimeout + 2s;
  constexpr auto slack = 2s;

  std::chrono::milliseconds worst{0};

  class Shutdown : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      korvent_ = std::make_unique<RunningKorvent>(
          std::vector<std::string>{"-o", "corba.call_timeout:" + std::to_string(callTimeout.count())});
    }

    static void TearDownTestSuite()
    {
      std::cout << "worst shutdown: " << worst.count() << " ms" << std::endl;
    }

    // A consumer port in another process, connected to KorventPV, then stopped.
    void connectStoppedConsumer()
    {
      consumer_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        HOSTILE_PEER_PATH, "accept", "1", "-ORBendPoint", "giop:tcp:127.0.0.1:"});
      std::optional<std::string> ior = consumer_->readLine(20s);
      ASSERT_TRUE(ior) << consumer_->errorOutput();
      CORBA::Object_var object = clientOrb()->string_to_object(ior->c_str());
      RTC::ConnectorProfile profile;
      profile.name = "stopped";
      profile.connector_id = "";
      profile.ports.length(2);
      profile.ports[0] = RTC::PortService::_duplicate(korvent_->port);
      profile.ports[1] = RTC::PortService::_narrow(object);
      ASSERT_EQ(RTC::RTC_OK, korvent_->port->connect(profile));
      consumer_->signal(SIGSTOP);
    }

    // A raw client that asks for a map larger than the socket buffers and
    // reads nothing of the reply, once the reply has begun to arrive.
    void stallClientMidReply()
    {
      std::vector<CORBA::Octet> large(32u << 20, 0x5A);
      korvent_->service->setGridMap(4096, 8192, makeMap(large));
      const IiopAddress address = iiopAddressOf(korvent_->serviceIor);
      stalled_ = connectTcp(address.host, address.port);
      ASSERT_GE(stalled_, 0);
      ASSERT_TRUE(sendAll(stalled_, getGridMapRequest(address.objectKey, 7)));
      ASSERT_TRUE(waitFor([this] { return pendingBytes(stalled_) > 0; }, 20s));
    }

    // Triggers the shutdown and times it to the end of the process.
    void expectBoundedEnd(const std::string& what, const std::function<void()>& trigger)
    {
      const Clock::time_point start = Clock::now();
      trigger();
      std::optional<int> status = korvent_->process->wait(promised + slack + 10s);
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      ASSERT_TRUE(status) << what << ": still running after " << took.count() << " ms";
      EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
          << what << ": status " << *status << "\n" << korvent_->process->errorOutput();
      EXPECT_LE(took, promised + slack) << what;
      worst = std::max(worst, took);
      RecordProperty("shutdown_ms", static_cast<int>(took.count()));
      std::cout << what << ": ended after " << took.count() << " ms" << std::endl;
    }

    void TearDown() override
    {
      if (stalled_ >= 0)
        close(stalled_);
    }

    std::unique_ptr<RunningKorvent> korvent_;
    std::unique_ptr<ChildProcess> consumer_;
    int stalled_ = -1;
  };
}

TEST_F(Shutdown, SigtermWithAStoppedConsumerConnected)
{
  connectStoppedConsumer();
  expectBoundedEnd("SIGTERM, stopped consumer", [&] { korvent_->process->signal(SIGTERM); });
  EXPECT_FALSE(korvent_->bound()) << "the name was left bound";
}

TEST_F(Shutdown, SigintWithAStoppedConsumerConnected)
{
  connectStoppedConsumer();
  expectBoundedEnd("SIGINT, stopped consumer", [&] { korvent_->process->signal(SIGINT); });
  EXPECT_FALSE(korvent_->bound()) << "the name was left bound";
}

TEST_F(Shutdown, RemoteExitWithAStoppedConsumerConnected)
{
  connectStoppedConsumer();
  expectBoundedEnd("exit(), stopped consumer", [&] { EXPECT_EQ(RTC::RTC_OK, korvent_->rtc->exit()); });
  EXPECT_FALSE(korvent_->bound()) << "the name was left bound";
}

TEST_F(Shutdown, SigtermWithAStoppedNameServer)
{
  korvent_->names.signal(SIGSTOP);
  expectBoundedEnd("SIGTERM, stopped name server", [&] { korvent_->process->signal(SIGTERM); });
}

TEST_F(Shutdown, SigtermWithAClientStalledMidReply)
{
  stallClientMidReply();
  expectBoundedEnd("SIGTERM, client stalled in a 32 MiB reply", [&] { korvent_->process->signal(SIGTERM); });
  EXPECT_FALSE(korvent_->bound()) << "the name was left bound";
}

TEST_F(Shutdown, SigtermWithEverythingStuckAtOnce)
{
  connectStoppedConsumer();
  stallClientMidReply();
  korvent_->names.signal(SIGSTOP);
  expectBoundedEnd("SIGTERM, stopped consumer + stopped name server + stalled client",
                   [&] { korvent_->process->signal(SIGTERM); });
}

TEST(ShutdownSecondSignal, EndsASlowShutdownAtOnce)
{
  // A long call timeout makes the first shutdown slow: its name server
  // does not answer.
  RunningKorvent korvent({"-o", "corba.call_timeout:20"});
  korvent.names.signal(SIGSTOP);
  korvent.process->signal(SIGTERM);
  // The component is gone as soon as the orderly shutdown is under way.
  ASSERT_TRUE(waitFor([&] {
    try {
      return korvent.rtc->_non_existent();
    }
    catch (const CORBA::Exception&) {
      return true;
    }
  }, 20s));
  ASSERT_TRUE(korvent.process->running()) << "the first shutdown was not slow";
  const Clock::time_point start = Clock::now();
  korvent.process->signal(SIGTERM);
  std::optional<int> status = korvent.process->wait(15s);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  ASSERT_TRUE(status) << "the second SIGTERM did not end it";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 128 + SIGTERM) << *status;
  // Well before the first shutdown's 20 s: about the 1 s given to unbinding.
  EXPECT_LT(took, 10s);
  std::cout << "second SIGTERM ended the process after " << took.count() << " ms" << std::endl;
}

namespace
{
  // A component whose store file is `folder`/store.
  std::unique_ptr<RunningKorvent> korventStoringIn(const TemporaryFolder& folder)
  {
    return std::make_unique<RunningKorvent>(std::vector<std::string>{
      "-o", "corba.call_timeout:" + std::to_string(callTimeout.count()), "-o", "korvent.map.store:" + folder / "store"});
  }
}

TEST(ShutdownSavesTheMap, TheLatestMapIsInTheFileWhenAReplyIsStalledAtSigterm)
{
  TemporaryFolder folder;
  std::unique_ptr<RunningKorvent> korvent = korventStoringIn(folder);
  korvent->service->setGridMap(4096, 8192, makeMap(std::vector<CORBA::Octet>(32u << 20, 1)));
  const IiopAddress address = iiopAddressOf(korvent->serviceIor);
  const int stalled = connectTcp(address.host, address.port);
  ASSERT_TRUE(sendAll(stalled, getGridMapRequest(address.objectKey, 7)));
  ASSERT_TRUE(waitFor([&] { return pendingBytes(stalled) > 0; }, 20s));
  // Stored just before the signal: its write is still under way then.
  const std::vector<CORBA::Octet> latest(32u << 20, 2);
  korvent->service->setGridMap(4096, 8192, makeMap(latest));
  korvent->process->signal(SIGTERM);
  std::optional<int> status = korvent->process->wait(promised + slack + 10s);
  close(stalled);
  ASSERT_TRUE(status) << "still running";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << korvent->process->errorOutput();
  const std::optional<mapio::StoredMap> stored = mapio::readStoreFile(folder / "store");
  ASSERT_TRUE(stored);
  EXPECT_EQ(std::string(latest.begin(), latest.end()), stored->cells);
}

TEST(ShutdownSavesTheMap, AMapThatCannotBeSavedEndsWithStatusOneAndOneLine)
{
  TemporaryFolder folder;
  std::unique_ptr<RunningKorvent> korvent = korventStoringIn(folder);
  // The folder gone, no write of the store file can succeed.
  std::filesystem::remove_all(folder.path());
  korvent->service->setGridMap(2, 1, makeMap({7, 8}));
  korvent->process->signal(SIGTERM);
  std::optional<int> status = korvent->process->wait(promised + slack + 10s);
  ASSERT_TRUE(status) << "still running";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
  const std::string err = korvent->process->errorOutput();
  const std::string said = "the latest map could not be made durable";
  EXPECT_NE(std::string::npos, err.find(said)) << err;
  EXPECT_EQ(err.find(said), err.rfind(said)) << err;
}
