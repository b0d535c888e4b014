#ifndef TESTS_SUPPORT_CHANGELISTENER_H
#define TESTS_SUPPORT_CHANGELISTENER_H

#include <rtm/dataports/InPort.h>

#include <RTC.hh>

#include <chrono>

// An InPort of the test process's own (on the client ORB), connected to a
// component's "mapChanged" port; disconnected again when destroyed.
class ChangeListener
{
public:
  explicit ChangeListener(RTC::RTObject_ptr component);
  ~ChangeListener();
  ChangeListener(const ChangeListener&) = delete;
  ChangeListener& operator=(const ChangeListener&) = delete;

  RTC::ReturnCode_t connected() const { return connected_; }

  // The next event, or an empty one when none arrives within `timeout`.
  RTC::TimedULongSeq next(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
  RTC::TimedULongSeq event_;
  RTC::InPort<RTC::TimedULongSeq> port_;
  RTC::ReturnCode_t connected_ = RTC::RTC_ERROR;
};

#endif // TESTS_SUPPORT_CHANGELISTENER_H
