#include <rtm/manager/ManagerConfig.h>
#include <rtm/util/Properties.h>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sstream>
#include <unistd.h>

TEST(Properties, TableIsReadUpToTheFirstEmptyKey)
{
  const char* table[] = {"a", "1", "b.c", "2", "", "never", "read", "x"};
  RTC::Properties props(table, 0x7fffffff);
  EXPECT_EQ((std::vector<std::string>{"a", "b.c"}), props.propertyNames());
  EXPECT_EQ("2", props.getProperty("b.c"));
  EXPECT_FALSE(props.hasKey("never"));
  EXPECT_EQ("fallback", props.getProperty("missing", "fallback"));

  RTC::Properties limited(table, 2);
  EXPECT_EQ(1u, limited.size());
}

TEST(Properties, NodesAndMergingKeepOrderAndLetTheLaterWin)
{
  RTC::Properties base;
  base.setProperty("exec_cxt.periodic.rate", "1000");
  base.setProperty("naming.formats", "%n.rtc");
  RTC::Properties over;
  over.setProperty("exec_cxt.periodic.rate", "50");
  over.setProperty("extra", "yes");
  base << over;
  EXPECT_EQ("50", base.getProperty("exec_cxt.periodic.rate"));
  EXPECT_EQ((std::vector<std::string>{"exec_cxt.periodic.rate", "naming.formats", "extra"}), base.propertyNames());
  RTC::Properties node = base.getNode("exec_cxt");
  EXPECT_EQ((std::vector<std::string>{"periodic.rate"}), node.propertyNames());
}

TEST(Properties, ConfigurationFileSyntax)
{
  std::istringstream file(
      "# comment\n"
      "! another comment\n"
      "\n"
      "  corba.nameservers : localhost:2809 \n"
      "naming.formats=%h.host_cxt/%n.rtc\n"
      "spaced value here\n"
      "long.list: a, \\\n"
      "    b, \\\n"
      "    c\n"
      "key\\:with\\:colons: v\n"
      "windows.line: crlf\r\n");
  RTC::Properties props;
  props.load(file);
  EXPECT_EQ("localhost:2809", props.getProperty("corba.nameservers"));
  EXPECT_EQ("%h.host_cxt/%n.rtc", props.getProperty("naming.formats"));
  EXPECT_EQ("value here", props.getProperty("spaced"));
  EXPECT_EQ("a, b, c", props.getProperty("long.list"));
  EXPECT_EQ("v", props.getProperty("key:with:colons"));
  EXPECT_EQ("crlf", props.getProperty("windows.line"));
  EXPECT_EQ(6u, props.size());
}

TEST(Properties, YesNoAndLists)
{
  EXPECT_TRUE(RTC::isYes("yes"));
  EXPECT_TRUE(RTC::isYes(" YES "));
  EXPECT_FALSE(RTC::isYes("No", true));
  EXPECT_TRUE(RTC::isYes("maybe", true));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), RTC::splitList(" a ,, b ,"));
}

namespace
{
  RTC::Properties parse(std::vector<std::string> args)
  {
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    return RTC::loadManagerConfig(static_cast<int>(argv.size()), argv.data());
  }
}

TEST(ManagerOptions, CommandLineBeatsDefaultsAndOrbOptionsPassThrough)
{
  RTC::Properties config = parse({"-f", "/dev/null", "-o", "naming.update.interval: 0.5",
                                  "-o", "corba.args:-ORBa 1", "-p", "2810", "-ORBtraceLevel", "5"});
  EXPECT_EQ("0.5", config.getProperty("naming.update.interval"));
  EXPECT_EQ(":2810", config.getProperty("corba.endpoints"));
  EXPECT_EQ("%h.host_cxt/%n.rtc", config.getProperty("naming.formats"));
  EXPECT_EQ("1000", config.getProperty("exec_cxt.periodic.rate"));

  std::vector<std::string> args{"prog", "-o", "corba.endpoint:127.0.0.1:5000", "-ORBtraceLevel", "5"};
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  RTC::Properties withEndpoint = parse({"-f", "/dev/null", "-o", "corba.endpoint:127.0.0.1:5000",
                                        "-o", "corba.endpoints:127.0.0.1:5000,all", "-o", "corba.local.enable:NO"});
  // The runtime's own limits come first, so that corba.args and the
  // command line can still override them.
  const std::vector<std::string> orbArgs =
      RTC::orbArguments(withEndpoint, static_cast<int>(argv.size()), argv.data());
  const std::vector<std::string> tail{"-ORBendPoint", "giop:tcp:127.0.0.1:5000",
                                      "-ORBendPointPublishAllIFs", "1", "-ORBtraceLevel", "5"};
  ASSERT_GT(orbArgs.size(), tail.size() + 1);
  EXPECT_EQ("prog", orbArgs.front());
  EXPECT_EQ(tail, std::vector<std::string>(orbArgs.end() - tail.size(), orbArgs.end()));
}

TEST(ManagerOptions, BadCommandLinesAreRefused)
{
  EXPECT_THROW(parse({"-f", "/nonexistent/rtc.conf"}), RTC::ConfigError);
  EXPECT_NO_THROW(parse({"-f", "/nonexistent/rtc.conf", "-i"}));
  EXPECT_THROW(parse({"-o", "novalue"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-o", ":value"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-p", "80a"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-x"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-f"}), RTC::ConfigError);
}

TEST(ManagerOptions, MasterManagerIsRefusedAndDashOIsUnescaped)
{
  EXPECT_THROW(parse({"-f", "/dev/null", "-d"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-f", "/dev/null", "-o", "manager.is_master:YES"}), RTC::ConfigError);
  EXPECT_EQ("NO", parse({"-f", "/dev/null", "-a"}).getProperty("manager.corba_servant"));

  const RTC::Properties config = parse({"-f", "/dev/null", "-o", "my\\:key : a\\:b\\tc ", "-o", "x: \\ y"});
  EXPECT_EQ("a:b\tc", config.getProperty("my:key"));
  EXPECT_EQ(" y", config.getProperty("x"));
}

TEST(ManagerOptions, NumericKeysOutsideTheirRangeStopStartUp)
{
  const char* keys[] = {"corba.call_timeout", "corba.request_timeout", "corba.idle_timeout",
                        "corba.max_connections", "corba.max_threads", "naming.update.interval",
                        "exec_cxt.periodic.rate", "exec_cxt.transition_timeout", "manager.memory.release_after",
                        "corba.request.min_rate", "corba.request.grace", "corba.memory.in_flight",
                        "corba.max_connections_per_host", "corba.local.max_connections",
                        "corba.reply.min_rate", "corba.reply.grace", "corba.memory.replies"};
  for (const char* key : keys) {
    for (const char* bad : {"nan", "inf", "-inf", "0", "-1", "1e300", "fast", "", "5s"}) {
      try {
        parse({"-f", "/dev/null", "-o", std::string(key) + ":" + bad});
        ADD_FAILURE() << key << " accepted '" << bad << "'";
      }
      catch (const RTC::ConfigError& error) {
        // The message names the key, so that the user knows what to fix.
        EXPECT_NE(std::string::npos, std::string(error.what()).find(key)) << error.what();
      }
    }
  }
  EXPECT_THROW(parse({"-f", "/dev/null", "-o", "corba.max_threads:2.5"}), RTC::ConfigError);

  const RTC::Properties config = parse({"-f", "/dev/null", "-o", "corba.call_timeout:0.25"});
  EXPECT_EQ(std::chrono::milliseconds(250), RTC::secondsSetting(config, "corba.call_timeout"));
  EXPECT_EQ(1000.0, RTC::numericSetting(config, "exec_cxt.periodic.rate"));
}

TEST(ManagerOptions, FrameworkKeysThatDoNothingHereAreNamed)
{
  const RTC::Properties config = parse({"-f", "/dev/null", "-o", "logger.enable:YES", "-o", "timer.tick:0.1",
                                        "-o", "corba.endpoints:127.0.0.1:", "-o", "Category.Korvent.x:1",
                                        "-o", "korvent.own:1", "-o", "logger.date_format:x"});
  EXPECT_EQ((std::vector<std::string>{"timer.tick", "logger.date_format"}), RTC::unusedFrameworkKeys(config));
}

TEST(ManagerOptions, TheLocalSocketIsAnEndPointBesideTcpAndNeverOpenToEveryone)
{
  char program[] = "prog";
  char* argv[] = {program};
  auto endPoints = [&](const RTC::Properties& config) {
    std::vector<std::string> found;
    const std::vector<std::string> args = RTC::orbArguments(config, 1, argv);
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
      if (args[i] == "-ORBendPoint" || args[i] == "-ORBunixTransportPermission")
        found.push_back(args[i + 1]);
    return found;
  };
  const std::string socket =
    "giop:unix:/tmp/k-" + std::string(getpwuid(getuid())->pw_name) + "/manager-" + std::to_string(getpid());
  // Alone it would replace the ORB's default TCP end point: that stays.
  EXPECT_EQ((std::vector<std::string>{"giop:tcp::", socket, "700"}),
            endPoints(parse({"-f", "/dev/null", "-o", "corba.local.folder:/tmp/k-%u"})));
  EXPECT_EQ((std::vector<std::string>{"giop:tcp:127.0.0.1:", socket, "750"}),
            endPoints(parse({"-f", "/dev/null", "-o", "corba.local.folder:/tmp/k-%u/", "-o", "corba.endpoints:127.0.0.1",
                             "-o", "corba.local.permission:0750"})));
  EXPECT_EQ(std::vector<std::string>{}, endPoints(parse({"-f", "/dev/null", "-o", "corba.local.enable:NO"})));
  // Plain text has no place where only TLS is to be spoken.
  EXPECT_EQ(std::vector<std::string>{"giop:ssl::"},
            endPoints(parse({"-f", "/dev/null", "-o", "corba.ssl.mode:only", "-o", "corba.ssl.certificate:c.pem",
                             "-o", "corba.ssl.ca_file:ca.pem"})));

  for (const char* bad : {"0777", "0701", "0600", "0", "rwx", "", "01700"}) {
    try {
      parse({"-f", "/dev/null", "-o", std::string("corba.local.permission:") + bad});
      ADD_FAILURE() << "accepted '" << bad << "'";
    }
    catch (const RTC::ConfigError& error) {
      EXPECT_NE(std::string::npos, std::string(error.what()).find("corba.local.permission")) << error.what();
    }
  }
  EXPECT_THROW(parse({"-f", "/dev/null", "-o", "corba.local.folder:relative"}), RTC::ConfigError);
  EXPECT_THROW(parse({"-f", "/dev/null", "-o", "corba.local.folder:/" + std::string(120, 'x')}), RTC::ConfigError);
}
