// KorventComp's start-up failures: one line on standard error, non-zero exit.
#include "KorventProcess.h"
#include "NameServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  struct Outcome
  {
    int status;
    std::string out;
    std::string err;
  };

  Outcome runToEnd(const std::vector<std::string>& args)
  {
    std::unique_ptr<ChildProcess> process = startKorventComp("127.0.0.1:1", args);
    std::optional<int> status = process->wait(20s);
    EXPECT_TRUE(status) << "still running";
    return {status.value_or(-1), process->remainingOutput(), process->errorOutput()};
  }

  void expectOneLineFailure(const Outcome& outcome, const std::string& mentions)
  {
    EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) != 0) << outcome.status;
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ(1, std::count(outcome.err.begin(), outcome.err.end(), '\n')) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find(mentions)) << outcome.err;
  }
}

TEST(KorventCompStartup, ConfigurationErrorsGiveOneLineAndFail)
{
  expectOneLineFailure(runToEnd({"-f", "/nonexistent/rtc.conf"}), "/nonexistent/rtc.conf");
  expectOneLineFailure(runToEnd({"--bogus"}), "--bogus");
  expectOneLineFailure(runToEnd({"-o", "no-separator"}), "no-separator");
  expectOneLineFailure(runToEnd({"-p", "twelve"}), "twelve");

  // An end point that is taken cannot be bound.
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, listen(holder, 1));
  socklen_t size = sizeof address;
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  expectOneLineFailure(runToEnd({"-o", "corba.endpoints:" + taken}), taken);
  close(holder);
}

TEST(KorventCompStartup, MissingFileIsIgnoredWithDashI)
{
  NameServer names;
  names.start();
  std::unique_ptr<ChildProcess> process = startKorventComp(names.address(), {"-f", "/nonexistent/rtc.conf", "-i"});
  EXPECT_TRUE(waitForKorventName(names)) << process->errorOutput();
  std::optional<int> status = process->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST(KorventCompStartup, CreationFailureAbortsWithItsMessage)
{
  Outcome outcome = runToEnd({"-o", "exec_cxt.periodic.type:NoSuchContext"});
  EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGABRT) << outcome.status;
  EXPECT_EQ("Component create failed.\n", outcome.err);
  EXPECT_EQ("", outcome.out);
}

TEST(KorventCompStartup, ListeningBeyondTheLoopbackIsAnnouncedOnce)
{
  NameServer names;
  names.start();
  auto warningsOf = [&](const std::vector<std::string>& args) {
    std::unique_ptr<ChildProcess> process = startKorventComp(names.address(), args);
    EXPECT_TRUE(waitForKorventName(names)) << process->errorOutput();
    std::optional<int> status = process->stop(SIGTERM, 20s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    return process->errorOutput();
  };

  // The tests' own settings listen on 127.0.0.1 only: nothing to say.
  EXPECT_EQ("", warningsOf({}));

  // Every interface, as without any configuration: one line that names the
  // address and says what anyone reaching it can do.
  const std::string all = warningsOf({"-o", "corba.endpoints:", "-o", "corba.endpoint::"});
  EXPECT_EQ(1, std::count(all.begin(), all.end(), '\n')) << all;
  // omniORB listens on the IPv6 wildcard, which takes IPv4 too.
  EXPECT_TRUE(all.find("listening on [::]:") != std::string::npos ||
              all.find("listening on 0.0.0.0:") != std::string::npos) << all;
  EXPECT_NE(std::string::npos, all.find("replace the map")) << all;
}

TEST(KorventCompStartup, NumericKeysRefuseNonsense)
{
  const char* keys[] = {"corba.call_timeout", "corba.request_timeout", "corba.idle_timeout",
                        "corba.max_connections", "corba.max_threads", "naming.update.interval",
                        "exec_cxt.periodic.rate", "exec_cxt.transition_timeout",
                        "manager.memory.release_after"};
  const char* values[] = {"nan", "NaN", "inf", "-inf", "0", "-1", "1e300", "5x", ""};
  for (const char* key : keys) {
    for (const char* value : values) {
      Outcome outcome = runToEnd({"-o", std::string(key) + ":" + value});
      SCOPED_TRACE(std::string(key) + ":" + value);
      expectOneLineFailure(outcome, key);
      EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 1) << outcome.status;
    }
  }
  // Whole numbers where a count is meant, and an idle timeout of at least 2 s.
  expectOneLineFailure(runToEnd({"-o", "corba.max_connections:2.5"}), "corba.max_connections");
  expectOneLineFailure(runToEnd({"-o", "corba.idle_timeout:1"}), "corba.idle_timeout");
  expectOneLineFailure(runToEnd({"-o", "exec_cxt.periodic.rate:100001"}), "exec_cxt.periodic.rate");
}

TEST(KorventCompStartup, MasterModeIsRefused)
{
  Outcome outcome = runToEnd({"-d"});
  expectOneLineFailure(outcome, "-d");
  EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 1) << outcome.status;
}

TEST(KorventCompStartup, OptionValuesAreUnescaped)
{
  NameServer names;
  names.start();
  // "\:" keeps the colon in the value instead of ending the key there.
  std::unique_ptr<ChildProcess> process =
      startKorventComp(names.address(), {"-o", "naming.formats:a\\:b.rtc"});
  EXPECT_TRUE(waitFor([&] {
    CORBA::Object_var object = names.resolve("a:b.rtc");
    return !CORBA::is_nil(object);
  }, 20s)) << process->errorOutput();
  std::optional<int> status = process->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << process->errorOutput();

  // Keys are unescaped too: the warning about an unused key names it as
  // the component read it.
  std::unique_ptr<ChildProcess> warned = startKorventComp(names.address(), {"-o", "corba.x\\:y:1"});
  ASSERT_TRUE(waitFor([&] { return !warned->errorOutput().empty(); }, 20s));
  EXPECT_NE(std::string::npos, warned->errorOutput().find("not used here: corba.x:y")) << warned->errorOutput();
  status = warned->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << warned->errorOutput();
}
