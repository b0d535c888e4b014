#ifndef RTM_REQUESTWATCH_H
#define RTM_REQUESTWATCH_H

#include "rtm/util/PeriodicTask.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace RTC
{
  struct RequestLimits
  {
    double minRate = 0;                    // octets per second a large request must keep arriving at
    std::chrono::milliseconds grace{0};    // the window over which that rate is measured
    std::uint64_t inFlight = 0;            // declared octets of large requests still arriving, all connections
  };

  // Holds incoming TCP requests too large to arrive in one read to the
  // limits above: a request whose declared size would take the octets in
  // flight over the budget has its connection reset at its header, and one
  // whose octets stop arriving at the minimum rate has it reset then, which
  // frees its thread and buffer.  A request sent in fragments declares no
  // whole size: it is booked with what has arrived of it, as its fragments
  // come, and reset once that would go over the budget.  The ORB has
  // neither limit: a request only ends at its whole-request timeout.  A
  // request's watch ends once its servant has its arguments (see
  // argumentsArrived): what the servant then takes is not the peer's doing.
  // Install after ORB_init, before the POA is activated; one at a time.
  class RequestWatch
  {
  public:
    explicit RequestWatch(const RequestLimits& limits);
    ~RequestWatch();
    RequestWatch(const RequestWatch&) = delete;
    RequestWatch& operator=(const RequestWatch&) = delete;

    // Tells the watch that the request this thread dispatches has been
    // unmarshalled whole; a servant that may take long over large arguments
    // calls it first.  A request in fragments is otherwise watched until
    // its reply, as no size tells when its last fragment came.
    static void argumentsArrived();
    // Whether a large request is arriving or being served now.
    static bool largeRequestsArriving();

  private:
    std::unique_ptr<PeriodicTask> checks_;
  };
}

#endif // RTM_REQUESTWATCH_H
