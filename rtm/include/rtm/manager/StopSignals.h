#ifndef RTM_STOPSIGNALS_H
#define RTM_STOPSIGNALS_H

#include <functional>

namespace RTC
{
  // Turns SIGINT and SIGTERM into calls on one thread of their own: the
  // first asks for an orderly shutdown, a second one (the user pressing
  // Ctrl-C again while a shutdown is slow) for an immediate end.  Every
  // other thread, the ORB's included, has these signals blocked, so call
  // it before the ORB starts any thread.
  void catchStopSignals(std::function<void()> orderly, std::function<void(int signal)> immediate);
}

#endif // RTM_STOPSIGNALS_H
