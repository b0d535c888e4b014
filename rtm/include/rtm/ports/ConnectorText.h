#ifndef RTM_CONNECTORTEXT_H
#define RTM_CONNECTORTEXT_H

#include <RTC.hh>

#include <string>

namespace RTC
{
  // Peer-supplied text for a log line: short, and unable to forge lines.
  std::string printable(const char* text);
  // "connector '<name>' (<id>)", both printable.
  std::string connectorText(const ConnectorProfile& profile);
}

#endif // RTM_CONNECTORTEXT_H
