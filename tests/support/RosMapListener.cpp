#include "RosMapListener.h"

#include <csignal>
#include <sstream>

RosMapListener::RosMapListener(int domain)
  : process_({FASTDDS_MAP_LISTENER_PATH, std::to_string(domain)})
{
}

RosMapListener::RosMapListener(const std::vector<std::string>& argv)
  : process_(argv)
{
}

std::vector<std::string> RosMapListener::command(int domain, const std::string& address)
{
  return {FASTDDS_MAP_LISTENER_PATH, std::to_string(domain), address};
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

std::vector<int> rosGridOf(const std::string& grey, int width, int height)
{
  std::vector<int> cells;
  cells.reserve(grey.size());
  for (int row = height - 1; row >= 0; --row)
    for (int x = 0; x < width; ++x) {
      const double p = (255.0 - static_cast<unsigned char>(grey[static_cast<std::size_t>(row) * width + x])) / 255.0;
      cells.push_back(p > 0.65 ? 100 : p < 0.196 ? 0 : -1);
    }
  return cells;
}
