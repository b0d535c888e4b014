#include "rtm/util/NumericSettings.h"

#include "rtm/util/ConfigError.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace RTC
{
  namespace
  {
    // Numeric keys and the values that make sense for them; anything else
    // (text, NaN, infinities, zero where a period or rate is meant) stops
    // start-up instead of being replaced by a default behind the user's back.
    struct NumericKey
    {
      const char* key;
      double minimum;
      double maximum;
      bool whole;
    };
    const NumericKey numericKeys[] = {
      {"corba.call_timeout", 0.1, 3600, false},
      {"corba.request_timeout", 1, 86400, false},
      {"corba.request.min_rate", 1, 1e10, false},
      {"corba.request.grace", 0.5, 3600, false},
      {"corba.memory.in_flight", 1 << 20, 1e13, true},
      {"corba.reply.min_rate", 1, 1e10, false},
      {"corba.reply.grace", 0.5, 3600, false},
      {"corba.memory.replies", 1 << 20, 1e13, true},
      {"corba.idle_timeout", 2, 86400, true},
      {"corba.max_connections", 1, 65536, true},
      {"corba.max_connections_per_host", 1, 65536, true},
      {"corba.local.max_connections", 1, 65536, true},
      {"corba.max_threads", 2, 4096, true},
      {"corba.compression.level", 1, 9, true},
      {"corba.compression.min_bytes", 0, 1e9, true},
      {"naming.update.interval", 0.01, 86400, false},
      {"exec_cxt.periodic.rate", 0.001, 100000, false},
      {"exec_cxt.transition_timeout", 0.001, 3600, false},
      {"manager.memory.release_after", 0.1, 86400, false},
    };

    const NumericKey& numericKey(const std::string& key)
    {
      for (const NumericKey& k : numericKeys)
        if (key == k.key)
          return k;
      throw std::logic_error("not a numeric key: " + key);
    }

    std::string describeRange(const NumericKey& k)
    {
      auto text = [](double v) {
        std::string s = std::to_string(v);
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
          s.pop_back();
        return s;
      };
      return std::string(k.whole ? "a whole number" : "a number") + " from " + text(k.minimum) + " to " +
             text(k.maximum);
    }

    void checkNumber(const Properties& config, const NumericKey& k)
    {
      const std::string text = trimmed(config.getProperty(k.key));
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      const bool parsed = !text.empty() && end && *end == '\0';
      if (!parsed || !std::isfinite(value) || value < k.minimum || value > k.maximum ||
          (k.whole && value != std::floor(value)))
        throw ConfigError(std::string(k.key) + " must be " + describeRange(k) + ", not '" + text + "'");
    }
  }

  void checkNumericSettings(const Properties& config)
  {
    for (const NumericKey& k : numericKeys)
      checkNumber(config, k);
  }

  double numericSetting(const Properties& config, const std::string& key)
  {
    checkNumber(config, numericKey(key));
    return std::strtod(config.getProperty(key).c_str(), nullptr);
  }

  std::chrono::milliseconds secondsSetting(const Properties& config, const std::string& key)
  {
    return std::chrono::milliseconds(std::llround(numericSetting(config, key) * 1000.0));
  }
}
