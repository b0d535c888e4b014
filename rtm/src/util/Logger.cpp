#include "rtm/util/Logger.h"

#include "rtm/util/ConfigError.h"
#include "rtm/util/NameFormat.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace RTC
{
  namespace
  {
    const char* const levelNames[] = {"SILENT", "FATAL", "ERROR", "WARN", "INFO",
                                      "DEBUG", "TRACE", "VERBOSE", "PARANOID"};

    // spdlog's own levels are coarser; the line carries the framework's name.
    spdlog::level::level_enum spdlogLevel(LogLevel level)
    {
      switch (level) {
        case LogLevel::Fatal: return spdlog::level::critical;
        case LogLevel::Error: return spdlog::level::err;
        case LogLevel::Warn: return spdlog::level::warn;
        case LogLevel::Info: return spdlog::level::info;
        case LogLevel::Debug: return spdlog::level::debug;
        default: return spdlog::level::trace;
      }
    }
  }

  std::optional<LogLevel> parseLogLevel(const std::string& name)
  {
    std::string upper = trimmed(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper == "NORMAL")
      return LogLevel::Info;
    for (std::size_t i = 0; i < std::size(levelNames); ++i)
      if (upper == levelNames[i])
        return static_cast<LogLevel>(i);
    return std::nullopt;
  }

  std::string logLevelNames()
  {
    std::string names;
    for (const char* name : levelNames)
      names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
  }

  Logger::Logger() = default;
  Logger::~Logger() = default;

  void Logger::configure(const Properties& config, const std::string& programName)
  {
    const LogLevel level = isYes(config.getProperty("logger.enable"), true)
                               ? parseLogLevel(config.getProperty("logger.log_level")).value_or(LogLevel::Info)
                               : LogLevel::Silent;
    program_ = programName;
    if (level == LogLevel::Silent) {
      level_ = static_cast<int>(level);
      out_.reset();
      return;
    }

    const std::string fileName = trimmed(config.getProperty("logger.file_name"));
    std::shared_ptr<spdlog::sinks::sink> sink;
    if (fileName.empty() || fileName == "STDERR" || fileName == "stderr") {
      sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    }
    else {
      Properties names;
      names.setProperty("instance_name", config.getProperty("manager.name"));
      const std::string path = formatName(fileName, names, config.getProperty("manager.name"));
      // spdlog would create missing folders; a mistyped path should fail instead.
      if (std::FILE* probe = std::fopen(path.c_str(), "a"))
        std::fclose(probe);
      else
        throw ConfigError("logger.file_name: cannot open " + path + ": " + std::strerror(errno));
      try {
        sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path);
      }
      catch (const spdlog::spdlog_ex& error) {
        throw ConfigError("logger.file_name: cannot open " + path + " (" + error.what() + ")");
      }
    }
    // Not registered with spdlog: nothing else in the process can reach it.
    out_ = std::make_shared<spdlog::logger>(programName, std::move(sink));
    out_->set_pattern("%Y-%m-%dT%H:%M:%S.%e%z %v");
    out_->set_level(spdlog::level::trace);
    // Every line reaches the file at once: a service may be killed, and a
    // watchdog ends the process without unwinding.
    out_->flush_on(spdlog::level::trace);
    level_ = static_cast<int>(level);
  }

  void Logger::write(LogLevel level, const std::string& text)
  {
    if (!enabled(level) || !out_)
      return;
    out_->log(spdlogLevel(level), "{} {}: {}", levelNames[static_cast<int>(level)], program_, text);
  }

  Logger& logger()
  {
    // Never destroyed: threads the process does not join may log to the end.
    static Logger* const theLogger = new Logger;
    return *theLogger;
  }
}
