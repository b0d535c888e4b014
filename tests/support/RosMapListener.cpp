#include "RosMapListener.h"

#include <csignal>
#include <sstream>

RosMapListener::RosMapListener(int domain)
  : process_({FASTDDS_MAP_LISTENER_PATH, std::to_string(domain)})
{
}

RosMapListener::~RosMapListener()
{
  process_.stop(SIGTERM, std::chrono::seconds(10));
}

std::optional<std::string> RosMapListener::find(const std::string& prefix, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (auto line = seen_.begin(); line != seen_.end(); ++line)
      if (line->rfind(prefix, 0) == 0) {
        std::string found = *line;
        seen_.erase(line);
        return found;
      }
    const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0))
      return std::nullopt;
    std::optional<std::string> line = process_.readLine(left);
    if (!line)
      return std::nullopt;
    seen_.push_back(*line);
  }
}

std::vector<std::string> fieldsOf(const std::string& line)
{
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;)
    fields.push_back(field);
  return fields;
}
