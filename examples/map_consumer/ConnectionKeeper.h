#ifndef CONNECTIONKEEPER_H
#define CONNECTIONKEEPER_H

#include <rtm/ports/PortBase.h>

#include <chrono>

// Keeps the connections a tool made to a data InPort.  A port that cannot
// push to it (this process stopped past its call timeout) drops the
// connection and says nothing.  So, after a second without a value, each
// connection's peers are asked whether they still hold it; one they lost is
// made again with the same ports and settings, and the publisher sends its
// newest value at once.  Failed attempts are repeated after a pause that
// doubles up to 5 s.  Each peer call is bounded by corba.call_timeout.
class ConnectionKeeper
{
public:
  explicit ConnectionKeeper(RTC::PortBase& port) : port_(port) {}

  // A value arrived: the connections are alive.
  void heard();
  // Checks when it is due; the number of connections made again.
  int keep();

private:
  using Clock = std::chrono::steady_clock;

  bool heldByPeers(const RTC::ConnectorProfile& profile, RTC::PortService_ptr self) const;
  bool remake(const RTC::ConnectorProfile& profile);

  RTC::PortBase& port_;
  Clock::time_point nextCheck_ = Clock::now() + std::chrono::seconds(1);
  std::chrono::milliseconds pause_{1000};
};

#endif // CONNECTIONKEEPER_H
