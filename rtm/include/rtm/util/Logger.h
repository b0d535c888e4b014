#ifndef RTM_LOGGER_H
#define RTM_LOGGER_H

#include "rtm/util/Properties.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace spdlog
{
  class logger;
}

namespace RTC
{
  // The framework's levels, from quietest to most talkative.
  enum class LogLevel { Silent, Fatal, Error, Warn, Info, Debug, Trace, Verbose, Paranoid };

  // A level as logger.log_level names it, in any case; NORMAL is INFO.
  std::optional<LogLevel> parseLogLevel(const std::string& name);
  // "SILENT, FATAL, ..., PARANOID", for messages.
  std::string logLevelNames();

  // The process's log: one line per message, "<time> <LEVEL> <program>:
  // <text>", on standard error or in a file.  It says nothing until
  // configured, so that programs using parts of the runtime without a
  // manager stay quiet.  Level checks are one atomic load: callers test
  // enabled() (or use log()) before building a message on a hot path.
  class Logger
  {
  public:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // From logger.enable, logger.file_name (%p, %n = manager.name, %h, %%;
    // empty or STDERR for standard error) and logger.log_level, already
    // checked by loadManagerConfig.  Call before any thread logs.  Throws
    // ConfigError when the file cannot be opened.
    void configure(const Properties& config, const std::string& programName);

    bool enabled(LogLevel level) const
    {
      return level != LogLevel::Silent && static_cast<int>(level) <= level_.load(std::memory_order_relaxed);
    }
    LogLevel level() const { return static_cast<LogLevel>(level_.load(std::memory_order_relaxed)); }

    void write(LogLevel level, const std::string& text);
    // Builds the text only when the level is on.
    template <typename MakeText>
    void log(LogLevel level, MakeText&& makeText)
    {
      if (enabled(level))
        write(level, makeText());
    }
    void warn(const std::string& text) { write(LogLevel::Warn, text); }
    void info(const std::string& text) { write(LogLevel::Info, text); }

  private:
    std::atomic<int> level_{static_cast<int>(LogLevel::Silent)};
    std::string program_;
    std::shared_ptr<spdlog::logger> out_;
  };

  // The process's one logger, for the runtime and its components alike.
  Logger& logger();
}

#endif // RTM_LOGGER_H
