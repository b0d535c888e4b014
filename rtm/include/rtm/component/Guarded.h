#ifndef RTM_GUARDED_H
#define RTM_GUARDED_H

#include <RTC.hh>

namespace RTC
{
  // Runs a component callback; one that throws, whatever it throws, counts
  // as a failed callback instead of ending the process.
  template <class Callback>
  ReturnCode_t guarded(Callback&& callback)
  {
    try {
      return callback();
    }
    catch (...) {
      return RTC_ERROR;
    }
  }
}

#endif // RTM_GUARDED_H
