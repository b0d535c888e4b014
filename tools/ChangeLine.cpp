#include "ChangeLine.h"

#include <cstdio>
#include <ctime>

std::string describeChange(const korvent::MapChange& change)
{
  const auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(change.storedAt.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(sinceEpoch / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[160];
  std::snprintf(text, sizeof text, "version %lu, %d x %d, %lu bytes, CRC %08lx, stored %04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                static_cast<unsigned long>(change.version), change.width, change.height,
                static_cast<unsigned long>(change.bytes), static_cast<unsigned long>(change.crc32), utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(sinceEpoch % 1000));
  return text;
}
