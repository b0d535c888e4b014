#include "rtm/ports/ConnectorText.h"

namespace RTC
{
  std::string printable(const char* text)
  {
    std::string out;
    for (const char* c = text ? text : ""; *c && out.size() < 80; ++c)
      out += (*c >= 0x20 && *c < 0x7f) ? *c : '?';
    return out;
  }

  std::string connectorText(const ConnectorProfile& profile)
  {
    return "connector '" + printable(profile.name) + "' (" + printable(profile.connector_id) + ")";
  }
}
