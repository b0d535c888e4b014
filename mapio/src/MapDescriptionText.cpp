#include "mapio/MapDescriptionText.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace mapio
{
  namespace
  {
    // Shortest text that reads back as the same double.
    std::string number(double value)
    {
      char text[32];
      for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value)
          break;
      }
      return text;
    }

    std::string jsonString(const std::string& text)
    {
      std::string quoted = "\"";
      for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
          quoted += '\\';
          quoted += c;
        }
        else if (u < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", u);
          quoted += escape;
        }
        else {
          quoted += c;
        }
      }
      return quoted + "\"";
    }
  }

  std::string isoTime(std::chrono::system_clock::time_point when)
  {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(sinceEpoch.count() / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(sinceEpoch.count() % 1000));
    return text;
  }

  std::string descriptionJsonMembers(const MapDescription* description, bool confirmed)
  {
    std::string members = "\"description\": ";
    if (!description) {
      members += "null";
    }
    else {
      const MapDescription& d = *description;
      members += "{\"resolution\": " + number(d.resolution) + ", \"origin\": [" + number(d.origin[0]) + ", " +
                 number(d.origin[1]) + ", " + number(d.origin[2]) + "], \"frame\": " + jsonString(d.frame) +
                 ", \"mode\": \"" + nameOf(d.mode) + "\", \"negate\": " + (d.negate ? "true" : "false") +
                 ", \"occupied_thresh\": " + number(d.occupiedThreshold) +
                 ", \"free_thresh\": " + number(d.freeThreshold) + ", \"text\": " + jsonString(d.text) + "}";
    }
    return members + ", \"description_confirmed\": " + (confirmed ? "true" : "false");
  }

  std::string descriptionText(const MapDescription* description, bool confirmed)
  {
    if (!description)
      return "description none (the map's resolution and origin are not known)\n";
    const MapDescription& d = *description;
    return "resolution  " + number(d.resolution) + " m per cell" + (confirmed ? "" : " (unconfirmed: the size changed since)") +
           "\norigin      " + number(d.origin[0]) + ", " + number(d.origin[1]) + " m, yaw " + number(d.origin[2]) +
           " rad, in frame " + jsonString(d.frame) + "\nmode        " + nameOf(d.mode) +
           (d.negate ? ", negated" : "") + ", occupied_thresh " + number(d.occupiedThreshold) + ", free_thresh " +
           number(d.freeThreshold) + "\n" + (d.text.empty() ? "" : "note        " + jsonString(d.text) + "\n");
  }
}
