// What KorventComp logs, at which level and where: a whole session (start,
// a consumer connecting, a map stored and read, disconnecting, stopping)
// run at each level.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"

#include <rtm/ports/CorbaConsumer.h>
#include <rtm/ports/CorbaPort.h>
#include <rtm/util/Logger.h>
#include <rtm/manager/ManagerConfig.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  std::size_t linesWith(const std::string& log, const std::string& text)
  {
    std::istringstream in(log);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
      count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
  }

  RTC::ConnectorProfile connectorBetween(const char* name, RTC::PortService_ptr first, RTC::PortService_ptr second)
  {
    RTC::ConnectorProfile profile;
    profile.name = name;
    profile.connector_id = "";
    profile.ports.length(2);
    profile.ports[0] = RTC::PortService::_duplicate(first);
    profile.ports[1] = RTC::PortService::_duplicate(second);
    return profile;
  }

  // Connects a consumer port of the test's own to "KorventPV", stores a
  // 3 x 4 map and reads it back through it, disconnects.
  void useTheMap(RTC::PortService_ptr provider)
  {
    RTC::CorbaConsumer<Korvent> map;
    RTC::CorbaPort consumerPort("MapUser");
    ASSERT_TRUE(consumerPort.registerConsumer("Korvent", "Korvent", map));
    consumerPort.setOwnerInstanceName("User0");
    consumerPort.activate(clientOrb(), clientPoa());
    RTC::PortService_var consumerRef = consumerPort.getPortRef();

    RTC::ConnectorProfile profile = connectorBetween("session", consumerRef, provider);
    ASSERT_EQ(RTC::RTC_OK, consumerPort.connect(profile));
    Korvent_var service = map._ptr();
    ASSERT_FALSE(CORBA::is_nil(service));
    EXPECT_FALSE(service->setGridMap(3, 4, makeMap(std::vector<CORBA::Octet>(12, 7))));
    RTC::TimedOctetSeq stored;
    CORBA::Short width = 0, height = 0;
    service->getGridMap(width, height, stored);
    EXPECT_EQ(12u, stored.data.length());
    EXPECT_EQ(RTC::RTC_OK, consumerPort.disconnect(profile.connector_id));

    consumerPort.deactivate();
    consumerPort.waitReleased();
  }

  // KorventComp with these settings, started and waited for until its
  // name is bound; its service port, nil if it never was.
  std::unique_ptr<ChildProcess> startBound(const NameServer& names, const std::vector<std::string>& args,
                                           RTC::PortService_var& servicePort)
  {
    std::unique_ptr<ChildProcess> component = startKorventComp(names.address(), args);
    EXPECT_TRUE(waitFor([&] {
      CORBA::Object_var object = names.resolve(korventName());
      return !CORBA::is_nil(object);
    }, 20s)) << component->errorOutput();
    CORBA::Object_var object = names.resolve(korventName());
    RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
    if (!CORBA::is_nil(rtc)) {
      RTC::PortServiceList_var ports = rtc->get_ports();
      servicePort = RTC::PortService::_duplicate(ports[0]);
    }
    return component;
  }

  void stopCleanly(ChildProcess& component)
  {
    std::optional<int> status = component.stop(SIGTERM, 20s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component.errorOutput();
  }

  // Runs the session against KorventComp with these settings, stops it
  // and returns its standard error.  An unused framework key makes sure
  // there is a WARN line to see.
  std::string sessionLog(std::vector<std::string> args)
  {
    args.insert(args.end(), {"-o", "timer.tick:1"});
    NameServer names;
    names.start();
    RTC::PortService_var servicePort;
    std::unique_ptr<ChildProcess> component = startBound(names, args, servicePort);
    if (!CORBA::is_nil(servicePort))
      useTheMap(servicePort);
    stopCleanly(*component);
    return component->errorOutput();
  }

  const char* const unusedKeyWarning = "WARN KorventComp: warning: configuration keys not used here: timer.tick";
}

TEST(Logging, DefaultsAreEnabledOnStandardErrorAtInfo)
{
  const RTC::Properties defaults = RTC::defaultManagerConfig();
  EXPECT_EQ("YES", defaults.getProperty("logger.enable"));
  EXPECT_EQ("STDERR", defaults.getProperty("logger.file_name"));
  RTC::Logger logger;
  EXPECT_FALSE(logger.enabled(RTC::LogLevel::Fatal));  // quiet until configured
  logger.configure(defaults, "test");
  EXPECT_EQ(RTC::LogLevel::Info, logger.level());
  EXPECT_TRUE(logger.enabled(RTC::LogLevel::Info));
  EXPECT_FALSE(logger.enabled(RTC::LogLevel::Debug));
}

TEST(Logging, LevelNamesInAnyCaseAndNormalIsInfo)
{
  EXPECT_EQ(RTC::LogLevel::Paranoid, RTC::parseLogLevel("paranoid"));
  EXPECT_EQ(RTC::LogLevel::Silent, RTC::parseLogLevel(" SILENT "));
  EXPECT_EQ(RTC::LogLevel::Info, RTC::parseLogLevel("NORMAL"));
  EXPECT_EQ(std::nullopt, RTC::parseLogLevel("LOUD"));
  EXPECT_EQ(std::nullopt, RTC::parseLogLevel(""));
}

TEST(Logging, InfoLogsTheSessionWithOneLinePerStoredMap)
{
  const std::string log = sessionLog({"-o", "logger.log_level:INFO"});
  // Every line carries a timestamp and a level.
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (WARN|INFO) KorventComp: .+)");
  std::istringstream in(log);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line); ++lines)
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  EXPECT_GE(lines, 8u) << log;

  EXPECT_TRUE(std::regex_search(log, std::regex(R"(INFO KorventComp: version \d+\.\d+\.\d+, process \d+, )"
                                                R"(listening on 127\.0\.0\.1:\d+)"))) << log;
  EXPECT_EQ(1u, linesWith(log, "INFO KorventComp: bound the name " + korventName())) << log;
  EXPECT_EQ(1u, linesWith(log, unusedKeyWarning)) << log;
  EXPECT_EQ(1u, linesWith(log, "port Korvent0.KorventPV connected to User0.MapUser, connector 'session'")) << log;
  EXPECT_EQ(1u, linesWith(log, "port Korvent0.KorventPV disconnected from User0.MapUser, connector 'session'"))
      << log;
  EXPECT_EQ(1u, linesWith(log, "map stored")) << log;
  EXPECT_EQ(1u, linesWith(log, "INFO KorventComp: map stored: 3 x 4, 12 bytes, ")) << log;
  EXPECT_EQ(0u, linesWith(log, "map read")) << log;
  EXPECT_EQ(1u, linesWith(log, "INFO KorventComp: shutting down")) << log;
  const std::string last = "INFO KorventComp: shut down\n";
  EXPECT_TRUE(log.size() > last.size() && log.compare(log.size() - last.size(), last.size(), last) == 0) << log;
}

TEST(Logging, NormalIsInfo)
{
  const std::string log = sessionLog({"-o", "logger.log_level:NORMAL"});
  EXPECT_EQ(1u, linesWith(log, "INFO KorventComp: map stored: 3 x 4")) << log;
  EXPECT_EQ(0u, linesWith(log, "map read")) << log;
}

TEST(Logging, DebugAddsEachMapRead)
{
  const std::string log = sessionLog({"-o", "logger.log_level:DEBUG"});
  EXPECT_EQ(1u, linesWith(log, "DEBUG KorventComp: map read: 3 x 4, 12 bytes")) << log;
  EXPECT_EQ(1u, linesWith(log, "INFO KorventComp: map stored: 3 x 4")) << log;
}

TEST(Logging, WarnShowsWarningsOnly)
{
  const std::string log = sessionLog({"-o", "logger.log_level:WARN"});
  EXPECT_EQ(1u, linesWith(log, unusedKeyWarning)) << log;
  EXPECT_EQ(0u, linesWith(log, " INFO ")) << log;
  EXPECT_EQ(0u, linesWith(log, "listening on")) << log;
}

TEST(Logging, ErrorHidesWarnings)
{
  EXPECT_EQ("", sessionLog({"-o", "logger.log_level:ERROR"}));
}

TEST(Logging, SilentSaysNothing)
{
  EXPECT_EQ("", sessionLog({"-o", "logger.log_level:SILENT"}));
}

TEST(Logging, DisabledSaysNothingAtAnyLevel)
{
  EXPECT_EQ("", sessionLog({"-o", "logger.enable:NO", "-o", "logger.log_level:PARANOID"}));
}

TEST(Logging, FileNameWithProcessIdTakesTheLog)
{
  char folder[] = "/tmp/korvent-log-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  NameServer names;
  names.start();
  RTC::PortService_var servicePort;
  std::unique_ptr<ChildProcess> component = startBound(
      names, {"-o", "logger.log_level:INFO", "-o", std::string("logger.file_name:") + folder + "/k-%p.log"},
      servicePort);
  stopCleanly(*component);
  // env(1) runs the component in its own process: the pid is the component's.
  const std::string path = std::string(folder) + "/k-" + std::to_string(component->pid()) + ".log";
  std::ifstream in(path);
  const std::string fileText(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(1u, linesWith(fileText, "INFO KorventComp: bound the name")) << fileText;
  EXPECT_EQ(1u, linesWith(fileText, "INFO KorventComp: shut down")) << fileText;
  EXPECT_EQ("", component->errorOutput());
  unlink(path.c_str());
  rmdir(folder);
}

TEST(Logging, BadSettingsStopStartUpWithOneLine)
{
  for (const std::string setting : {"logger.log_level:LOUD", "logger.file_name:/nonexistent/k.log"}) {
    std::unique_ptr<ChildProcess> component = startKorventComp("127.0.0.1:1", {"-o", setting});
    std::optional<int> status = component->wait(20s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << setting;
    const std::string error = component->errorOutput();
    EXPECT_EQ(1u, linesWith(error, "KorventComp: logger.")) << error;
    EXPECT_EQ(1, std::count(error.begin(), error.end(), '\n')) << error;
    EXPECT_NE(std::string::npos, error.find(setting.substr(setting.find(':') + 1))) << error;
  }
}

TEST(Logging, RefusedProfileIsAWarning)
{
  NameServer names;
  names.start();
  RTC::PortService_var port;
  std::unique_ptr<ChildProcess> component = startBound(names, {}, port);
  ASSERT_FALSE(CORBA::is_nil(port));

  // The port itself listed twice: a profile no port may accept.
  RTC::ConnectorProfile profile = connectorBetween("twice\nforged line", port, port);
  EXPECT_EQ(RTC::BAD_PARAMETER, port->connect(profile));
  stopCleanly(*component);

  const std::string log = component->errorOutput();
  EXPECT_EQ(1u, linesWith(log, "WARN KorventComp: port Korvent0.KorventPV refused connector 'twice?forged line'"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("\nforged line")) << log;  // the peer's newline starts no line
}
