#include "rtm/manager/ManagerConfig.h"

#include "rtm/orb/Compression.h"
#include "rtm/orb/LocalSocket.h"
#include "rtm/util/Logger.h"
#include "rtm/util/NumericSettings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace RTC
{
  namespace
  {
    const char* const defaults[] = {
      "corba.args", "",
      "corba.endpoint", "",
      "corba.nameservers", "localhost",
      "corba.call_timeout", "5",
      "corba.request_timeout", "600",
      "corba.request.min_rate", "16384",
      "corba.request.grace", "5",
      "corba.memory.in_flight", "1342177280",
      "corba.reply.min_rate", "16384",
      "corba.reply.grace", "5",
      "corba.memory.replies", "536870912",
      "corba.idle_timeout", "60",
      "corba.max_connections", "64",
      "corba.max_connections_per_host", "16",
      "corba.max_threads", "16",
      "corba.compression.enable", "NO",
      "corba.compression.level", "1",
      "corba.compression.min_bytes", "4096",
      "corba.ssl.mode", "off",
      "corba.local.enable", "YES",
      "corba.local.folder", "/tmp/korvent-%u",
      "corba.local.permission", "0700",
      "corba.local.max_connections", "64",
      "corba.ssl.verify", "require",
      "naming.enable", "YES",
      "naming.formats", "%h.host_cxt/%n.rtc",
      "naming.update.enable", "YES",
      "naming.update.interval", "10.0",
      "exec_cxt.periodic.type", "PeriodicExecutionContext",
      "exec_cxt.periodic.rate", "1000",
      "exec_cxt.sync_transition", "YES",
      "exec_cxt.transition_timeout", "0.5",
      "manager.name", "manager",
      "manager.shutdown_on_nortcs", "YES",
      "manager.components.precreate", "",
      "manager.memory.retain_large_buffers", "YES",
      "manager.memory.release_after", "3",
      "logger.enable", "YES",
      "logger.file_name", "STDERR",
      "logger.log_level", "INFO",
      ""};

    // Keys of the framework's own families that the runtime acts on.
    const char* const usedKeys[] = {
      "corba.args", "corba.endpoint", "corba.endpoints", "corba.nameservers", "corba.call_timeout",
      "corba.request_timeout", "corba.request.min_rate", "corba.request.grace", "corba.memory.in_flight",
      "corba.reply.min_rate", "corba.reply.grace", "corba.memory.replies",
      "corba.idle_timeout", "corba.max_connections", "corba.max_connections_per_host", "corba.max_threads",
      "corba.compression.enable", "corba.compression.level", "corba.compression.min_bytes", "corba.ssl.mode",
      "corba.ssl.endpoints", "corba.ssl.certificate", "corba.ssl.key_password", "corba.ssl.ca_file",
      "corba.ssl.verify", "corba.local.enable", "corba.local.folder", "corba.local.permission",
      "corba.local.group", "corba.local.max_connections",
      "naming.enable", "naming.formats", "naming.update.enable", "naming.update.interval",
      "exec_cxt.periodic.type", "exec_cxt.periodic.rate", "exec_cxt.sync_transition",
      "exec_cxt.transition_timeout", "manager.name", "manager.shutdown_on_nortcs",
      "manager.components.precreate", "manager.memory.retain_large_buffers",
      "manager.memory.release_after", "manager.corba_servant",
      "logger.enable", "logger.file_name", "logger.log_level"};
    const char* const frameworkFamilies[] = {"corba.", "naming.", "exec_cxt.", "manager.", "logger.",
                                             "timer.", "sdo.", "port."};

    bool isOrbOption(const std::string& arg)
    {
      return arg.compare(0, 4, "-ORB") == 0;
    }

    bool fileExists(const std::string& path)
    {
      return std::ifstream(path).good();
    }

    void loadFile(Properties& config, const std::string& path)
    {
      std::ifstream in(path);
      if (!in)
        throw ConfigError("cannot read configuration file " + path);
      config.load(in);
    }

    bool allDigits(const std::string& text)
    {
      return !text.empty() &&
             std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
    }

    void checkChoice(const Properties& config, const char* key, std::initializer_list<const char*> choices)
    {
      const std::string value = trimmed(config.getProperty(key));
      std::string listed;
      for (const char* choice : choices) {
        if (value == choice)
          return;
        listed += (listed.empty() ? "" : ", ") + std::string(choice);
      }
      throw ConfigError(std::string(key) + " must be one of " + listed + ", not '" + value + "'");
    }

    // "key:value" as -o takes it: split at the first unescaped ':', both
    // sides unescaped and trimmed.
    std::pair<std::string, std::string> splitSetting(const std::string& pair)
    {
      for (std::size_t i = 0; i < pair.size(); ++i) {
        if (pair[i] == '\\') {
          ++i;
          continue;
        }
        if (pair[i] == ':')
          return {unescaped(trimmed(pair.substr(0, i))), unescaped(trimmed(pair.substr(i + 1)))};
      }
      return {"", ""};
    }
  }

  Properties defaultManagerConfig()
  {
    return Properties(defaults);
  }

  namespace
  {
    // What the command line says, read in one pass.
    struct CommandLine
    {
      std::string configFile;
      bool ignoreMissingFile = false;
      Properties settings;                 // from -o, -p, -a
      std::vector<std::string> orbOptions; // "-ORB<name> <value>" pairs, in order
    };

    CommandLine parseCommandLine(int argc, char** argv)
    {
      CommandLine line;
      for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
          if (i + 1 >= argc)
            throw ConfigError("option " + arg + " needs a value");
          return argv[++i];
        };
        if (isOrbOption(arg)) {
          line.orbOptions.push_back(arg);
          line.orbOptions.push_back(value());
        }
        else if (arg == "-f") {
          line.configFile = value();
        }
        else if (arg == "-i") {
          line.ignoreMissingFile = true;
        }
        else if (arg == "-o") {
          const std::string pair = value();
          const auto [key, setting] = splitSetting(pair);
          if (key.empty())
            throw ConfigError("malformed option -o '" + pair + "': expected key:value");
          line.settings.setProperty(key, setting);
        }
        else if (arg == "-p") {
          const std::string port = value();
          if (!allDigits(port) || std::strtoul(port.c_str(), nullptr, 10) > 65535)
            throw ConfigError("option -p needs a port number, not '" + port + "'");
          line.settings.setProperty("corba.endpoints", ":" + port);
        }
        else if (arg == "-a") {
          // No manager servant is ever created here; -a asks for exactly that.
          line.settings.setProperty("manager.corba_servant", "NO");
        }
        else if (arg == "-d") {
          throw ConfigError("option -d (run as master manager) is not supported");
        }
        else {
          throw ConfigError("unknown option '" + arg + "'");
        }
      }
      return line;
    }
  }

  Properties loadManagerConfig(int argc, char** argv)
  {
    const CommandLine line = parseCommandLine(argc, argv);
    Properties config = defaultManagerConfig();
    if (!line.configFile.empty()) {
      if (fileExists(line.configFile))
        loadFile(config, line.configFile);
      else if (!line.ignoreMissingFile)
        throw ConfigError("configuration file " + line.configFile + " not found");
    }
    else {
      std::vector<std::string> candidates;
      if (const char* fromEnvironment = std::getenv("RTC_MANAGER_CONFIG"))
        candidates.push_back(fromEnvironment);
      for (const char* path : {"./rtc.conf", "/etc/rtc.conf", "/etc/rtc/rtc.conf",
                               "/usr/local/etc/rtc.conf", "/usr/local/etc/rtc/rtc.conf"})
        candidates.push_back(path);
      for (const std::string& path : candidates) {
        if (fileExists(path)) {
          loadFile(config, path);
          break;
        }
      }
    }
    config << line.settings;
    checkNumericSettings(config);
    if (isYes(config.getProperty("manager.is_master")))
      throw ConfigError("manager.is_master: a master manager is not supported");
    if (!parseLogLevel(config.getProperty("logger.log_level")))
      throw ConfigError("logger.log_level must be one of " + logLevelNames() + ", not '" +
                        trimmed(config.getProperty("logger.log_level")) + "'");
    checkChoice(config, "corba.ssl.mode", {"off", "only", "mixed"});
    checkChoice(config, "corba.ssl.verify", {"none", "peer", "require"});
    if (config.getProperty("corba.ssl.mode") != "off")
      for (const char* key : {"corba.ssl.certificate", "corba.ssl.ca_file"})
        if (trimmed(config.getProperty(key)).empty())
          throw ConfigError(std::string(key) + " must name a PEM file when corba.ssl.mode is " +
                            config.getProperty("corba.ssl.mode"));
    localSocketSettings(config);
    return config;
  }

  std::vector<std::string> unusedFrameworkKeys(const Properties& config)
  {
    std::vector<std::string> unused;
    for (const std::string& key : config.propertyNames()) {
      const bool framework = std::any_of(std::begin(frameworkFamilies), std::end(frameworkFamilies),
                                         [&](const char* family) { return key.rfind(family, 0) == 0; });
      const bool used = std::any_of(std::begin(usedKeys), std::end(usedKeys),
                                    [&](const char* k) { return key == k; });
      if (framework && !used)
        unused.push_back(key);
    }
    return unused;
  }

  std::vector<std::string> orbArguments(const Properties& config, int argc, char** argv)
  {
    std::vector<std::string> args{argc > 0 ? argv[0] : "rtc"};
    auto ms = [&](const char* key) { return std::to_string(secondsSetting(config, key).count()); };
    auto whole = [&](const char* key) { return static_cast<long>(numericSetting(config, key)); };
    // Every outgoing call, connection attempts included, ends within the
    // call timeout; a request must arrive whole within the request timeout;
    // an idle connection is closed.  Every connection let in has a thread of
    // its own, so that one stalled half-way through a request holds that
    // thread alone: were connections beyond some number served by a shared
    // pool, as many stalled requests as the pool has threads would lock
    // every later client out.  Twice the connection limits leave room for
    // connections of a burst not refused yet; the pool serves calls that
    // arrive together on one connection, and connections beyond that room.
    const long threads = whole("corba.max_threads");
    const long perConnection = 2 * (whole("corba.max_connections") + whole("corba.local.max_connections")) + 2;
    const long idle = whole("corba.idle_timeout");
    args.insert(args.end(), {
      // Room for a sequence of 2^30 octets and the rest of its call, so that
      // the largest map passes; the memory budgets, not this, protect the
      // process.  corba.args may set another.
      "-ORBgiopMaxMsgSize", "1207959552",
      "-ORBclientCallTimeOutPeriod", ms("corba.call_timeout"),
      "-ORBclientConnectTimeOutPeriod", ms("corba.call_timeout"),
      "-ORBsupportPerThreadTimeOut", "1",
      "-ORBserverCallTimeOutPeriod", ms("corba.request_timeout"),
      "-ORBinConScanPeriod", std::to_string(idle),
      "-ORBscanGranularity", std::to_string(std::min(5L, idle / 2)),
      "-ORBthreadPerConnectionUpperLimit", std::to_string(perConnection),
      "-ORBthreadPerConnectionLowerLimit", std::to_string(perConnection - 1),
      "-ORBmaxServerThreadPoolSize", std::to_string(threads),
      // Threads left over from a burst of connections go within a second,
      // not the ORB's default ten.
      "-ORBidleThreadTimeout", "1"});
    if (isYes(config.getProperty("corba.compression.enable"))) {
      const std::vector<std::string> compression = compressionOrbOptions();
      args.insert(args.end(), compression.begin(), compression.end());
    }
    for (const std::string& a : splitList(config.getProperty("corba.args"), ' '))
      args.push_back(a);

    // Plain end points, TLS end points, or both.  In TLS-only mode the
    // configured end points speak TLS; in mixed mode TLS listens beside each
    // plain one, on corba.ssl.endpoints or on a free port of the same host.
    const std::string tls = trimmed(config.getProperty("corba.ssl.mode", "off"));
    std::vector<std::string> endpoints;
    bool publishAll = false;
    for (std::string e : splitList(config.getProperty("corba.endpoints") + "," + config.getProperty("corba.endpoint"))) {
      if (e == "all") {
        publishAll = true;
        continue;
      }
      if (e.find(':') == std::string::npos)
        e += ":";
      if (std::find(endpoints.begin(), endpoints.end(), e) == endpoints.end())
        endpoints.push_back(e);
    }
    if (endpoints.empty() && tls != "off")
      endpoints.push_back(":");  // every interface, as the ORB would choose alone
    std::vector<std::string> tlsEndpoints = splitList(config.getProperty("corba.ssl.endpoints"));
    if (tls == "mixed" && tlsEndpoints.empty())
      for (const std::string& e : endpoints)
        tlsEndpoints.push_back(e.substr(0, e.rfind(':')) + ":");
    // The local socket is an end point too, and the ORB only makes its own
    // default TCP end point when it is given none at all.  (Called after
    // loadManagerConfig, so the command line is known to parse.)
    const CommandLine line = parseCommandLine(argc, argv);
    const bool endpointsInArgs =
      std::find(args.begin(), args.end(), "-ORBendPoint") != args.end() ||
      std::find(line.orbOptions.begin(), line.orbOptions.end(), "-ORBendPoint") != line.orbOptions.end();
    const std::vector<std::string> local = localSocketOrbOptions(localSocketSettings(config));
    if (endpoints.empty() && !local.empty() && !endpointsInArgs)
      endpoints.push_back(":");
    for (const std::string& e : endpoints)
      args.insert(args.end(), {"-ORBendPoint", (tls == "only" ? "giop:ssl:" : "giop:tcp:") + e});
    args.insert(args.end(), local.begin(), local.end());
    if (tls == "mixed")
      for (const std::string& e : tlsEndpoints)
        args.insert(args.end(), {"-ORBendPoint", "giop:ssl:" + e});
    if (publishAll)
      args.insert(args.end(), {"-ORBendPointPublishAllIFs", "1"});

    args.insert(args.end(), line.orbOptions.begin(), line.orbOptions.end());
    return args;
  }
}
