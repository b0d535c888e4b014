#include "rtm/ManagerConfig.h"

#include <algorithm>
#include <cctype>
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
      "naming.enable", "YES",
      "naming.formats", "%h.host_cxt/%n.rtc",
      "naming.update.enable", "YES",
      "naming.update.interval", "10.0",
      "exec_cxt.periodic.type", "PeriodicExecutionContext",
      "exec_cxt.periodic.rate", "1000",
      "exec_cxt.sync_transition", "YES",
      "exec_cxt.transition_timeout", "0.5",
      "manager.name", "manager",
      "manager.is_master", "NO",
      "manager.shutdown_on_nortcs", "YES",
      "manager.components.naming_policy", "process_unique",
      "manager.components.precreate", "",
      "manager.termination_waittime", "0.5",
      "manager.memory.retain_large_buffers", "YES",
      ""};

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
      Properties settings;                 // from -o, -p, -a, -d
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
          const std::size_t colon = pair.find(':');
          if (colon == std::string::npos || trimmed(pair.substr(0, colon)).empty())
            throw ConfigError("malformed option -o '" + pair + "': expected key:value");
          line.settings.setProperty(trimmed(pair.substr(0, colon)), trimmed(pair.substr(colon + 1)));
        }
        else if (arg == "-p") {
          const std::string port = value();
          if (!allDigits(port))
            throw ConfigError("option -p needs a port number, not '" + port + "'");
          line.settings.setProperty("corba.endpoints", ":" + port);
        }
        else if (arg == "-a") {
          line.settings.setProperty("manager.corba_servant", "NO");
        }
        else if (arg == "-d") {
          line.settings.setProperty("manager.is_master", "YES");
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
    return config;
  }

  std::vector<std::string> orbArguments(const Properties& config, int argc, char** argv)
  {
    std::vector<std::string> args{argc > 0 ? argv[0] : "rtc"};
    for (const std::string& a : splitList(config.getProperty("corba.args"), ' '))
      args.push_back(a);

    std::vector<std::string> endpoints = splitList(config.getProperty("corba.endpoints"));
    const std::string single = trimmed(config.getProperty("corba.endpoint"));
    if (!single.empty())
      endpoints.push_back(single);
    std::vector<std::string> seen;
    for (std::string e : endpoints) {
      if (std::find(seen.begin(), seen.end(), e) != seen.end())
        continue;
      seen.push_back(e);
      if (e == "all") {
        args.insert(args.end(), {"-ORBendPointPublishAllIFs", "1"});
        continue;
      }
      if (e.find(':') == std::string::npos)
        e += ":";
      args.insert(args.end(), {"-ORBendPoint", "giop:tcp:" + e});
    }

    // Called after loadManagerConfig, so the command line is known to parse.
    const CommandLine line = parseCommandLine(argc, argv);
    args.insert(args.end(), line.orbOptions.begin(), line.orbOptions.end());
    return args;
  }
}
