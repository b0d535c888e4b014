#include "rtm/component/PeriodicExecutionContext.h"

#include "rtm/component/Guarded.h"
#include "rtm/util/NVUtil.h"
#include "rtm/component/RTObject.h"

#include <cmath>
#include <sstream>

namespace RTC
{
  namespace
  {
    bool acceptableRate(double rate)
    {
      return std::isfinite(rate) && rate > 0.0 && rate <= PeriodicExecutionContext::maxRate;
    }

    bool equivalent(LightweightRTObject_ptr a, LightweightRTObject_ptr b)
    {
      try {
        return !CORBA::is_nil(a) && !CORBA::is_nil(b) && a->_is_equivalent(b);
      }
      catch (const CORBA::Exception&) {
        return false;
      }
    }
  }

  PeriodicExecutionContext::PeriodicExecutionContext(double rate, bool synchronous,
                                                     std::chrono::duration<double> transitionTimeout)
    : rate_(acceptableRate(rate) ? rate : 1000.0), synchronous_(synchronous), transitionTimeout_(transitionTimeout)
  {
    thread_ = std::thread([this] { run(); });
  }

  PeriodicExecutionContext::~PeriodicExecutionContext()
  {
    terminate();
  }

  void PeriodicExecutionContext::activate(PortableServer::POA_ptr poa)
  {
    activation_.activate(poa, this);
  }

  void PeriodicExecutionContext::deactivate()
  {
    activation_.deactivate();
  }

  ExecutionContextService_ptr PeriodicExecutionContext::getObjRef() const
  {
    return RTC::ExecutionContextService::_narrow(activation_.reference());
  }

  // Callbacks go straight to the owner's servant, through the ORB to others.
  template <class Callback>
  ReturnCode_t PeriodicExecutionContext::act(const Member& m, Callback callback)
  {
    if (m.local)
      return guarded([&] { return callback(*m.local); });
    return guarded([&] { return callback(*m.component); });
  }

  template <class Callback>
  ReturnCode_t PeriodicExecutionContext::actDataFlow(const Member& m, Callback callback)
  {
    if (m.local)
      return guarded([&] { return callback(*m.local); });
    if (CORBA::is_nil(m.dataFlow))
      return RTC_OK;
    return guarded([&] { return callback(*m.dataFlow); });
  }

  void PeriodicExecutionContext::bindOwner(LightweightRTObject_ptr owner, RTObject_impl& servant)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Member member{nextMemberId_++, RTC::LightweightRTObject::_duplicate(owner), RTC::DataFlowComponentAction::_nil(),
                  &servant, 0, true, INACTIVE_STATE, Request::None, 0, INACTIVE_STATE};
    members_.insert(members_.begin(), std::move(member));
    ++membership_;
  }

  void PeriodicExecutionContext::terminate()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wakeRunner();
    if (thread_.joinable()) {
      if (onOwnThread())
        thread_.detach();  // a callback asked for it; the loop ends after it returns
      else
        thread_.join();
    }
  }

  bool PeriodicExecutionContext::onOwnThread() const
  {
    return std::this_thread::get_id() == thread_.get_id();
  }

  std::vector<PeriodicExecutionContext::Member> PeriodicExecutionContext::membersCopy()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return members_;
  }

  PeriodicExecutionContext::Member* PeriodicExecutionContext::find(LightweightRTObject_ptr comp)
  {
    for (Member& m : members_)
      if (equivalent(comp, m.component))
        return &m;
    return nullptr;
  }

  void PeriodicExecutionContext::run()
  {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    Clock::time_point next = Clock::now();
    // The thread's own copy of the members, taken again only when the
    // membership changes: copying references every cycle costs more than
    // the cycle itself at high rates.
    std::vector<Member> members;
    unsigned long copiedMembership = membership_ - 1;
    while (!quit_) {
      if (!running_) {
        changed_.wait(lock, [this] { return quit_ || running_; });
        next = Clock::now();
        continue;
      }
      const Clock::time_point now = Clock::now();
      const bool due = now >= next;
      if (copiedMembership != membership_) {
        members = members_;
        copiedMembership = membership_;
      }
      else {
        for (std::size_t i = 0; i < members.size(); ++i)
          members[i].request = members_[i].request;
      }
      for (Member& m : members_)
        m.request = Request::None;
      pendingRequests_ = false;
      inCycle_ = true;
      lock.unlock();

      runCycle(members, due);

      lock.lock();
      for (const Member& done : members) {
        for (Member& m : members_) {
          if (m.id == done.id) {
            m.state = done.state;
            m.requestsServed = done.requestsServed;
            m.transitionReached = done.transitionReached;
          }
        }
      }
      inCycle_ = false;
      changed_.notify_all();
      if (due) {
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate_));
        next += period;
        if (next < now)
          next = now + period;  // fell behind: skip, do not burst
      }
      auto woken = [this] { return quit_ || !running_ || pendingRequests_; };
      if (needsCycles()) {
        if (!woken()) {
          lock.unlock();
          runnerWakeup_.sleepUntil(next);
          lock.lock();
        }
      }
      else {
        changed_.wait(lock, woken);
        next = Clock::now();
      }
    }
  }

  void PeriodicExecutionContext::wakeRunner()
  {
    changed_.notify_all();
    runnerWakeup_.wake();
  }

  bool PeriodicExecutionContext::needsCycles() const
  {
    for (const Member& m : members_)
      if (m.state == ACTIVE_STATE || m.state == ERROR_STATE)
        return true;
    return false;
  }

  void PeriodicExecutionContext::runCycle(std::vector<Member>& members, bool execute)
  {
    for (Member& m : members) {
      const ExecutionContextHandle_t h = m.handle;
      switch (m.request) {
        case Request::Activate:
          if (act(m, [h](auto& c) { return c.on_activated(h); }) == RTC_OK) {
            m.state = ACTIVE_STATE;
          }
          else {
            m.state = ERROR_STATE;
            act(m, [h](auto& c) { return c.on_aborting(h); });
          }
          break;
        case Request::Deactivate:
          m.state = act(m, [h](auto& c) { return c.on_deactivated(h); }) == RTC_OK ? INACTIVE_STATE : ERROR_STATE;
          break;
        case Request::Reset:
          if (act(m, [h](auto& c) { return c.on_reset(h); }) == RTC_OK)
            m.state = INACTIVE_STATE;
          break;
        case Request::None:
          break;
      }
      if (m.request != Request::None) {
        ++m.requestsServed;
        m.transitionReached = m.state;
      }

      if (!execute)
        continue;
      if (m.state == ACTIVE_STATE) {
        ReturnCode_t result = actDataFlow(m, [h](auto& c) { return c.on_execute(h); });
        if (result == RTC_OK)
          result = actDataFlow(m, [h](auto& c) { return c.on_state_update(h); });
        if (result != RTC_OK) {
          m.state = ERROR_STATE;
          act(m, [h](auto& c) { return c.on_aborting(h); });
        }
      }
      else if (m.state == ERROR_STATE) {
        act(m, [h](auto& c) { return c.on_error(h); });
      }
    }
  }

  CORBA::Boolean PeriodicExecutionContext::is_running()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }

  ReturnCode_t PeriodicExecutionContext::start()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (running_ || quit_)
        return PRECONDITION_NOT_MET;
    }
    for (Member& m : membersCopy())
      act(m, [&m](auto& c) { return c.on_startup(m.handle); });
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = true;
    }
    wakeRunner();
    return RTC_OK;
  }

  ReturnCode_t PeriodicExecutionContext::stop()
  {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!running_)
        return PRECONDITION_NOT_MET;
      running_ = false;
      wakeRunner();
      // No callback of a cycle may still be running once stop() returns,
      // unless stop() was called from one of them.
      if (!onOwnThread())
        changed_.wait(lock, [this] { return !inCycle_; });
    }
    for (Member& m : membersCopy())
      act(m, [&m](auto& c) { return c.on_shutdown(m.handle); });
    return RTC_OK;
  }

  CORBA::Double PeriodicExecutionContext::get_rate()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
  }

  ReturnCode_t PeriodicExecutionContext::set_rate(CORBA::Double rate)
  {
    if (!acceptableRate(rate))
      return BAD_PARAMETER;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rate_ = rate;
    }
    wakeRunner();
    ReturnCode_t result = RTC_OK;
    for (Member& m : membersCopy()) {
      ReturnCode_t code = actDataFlow(m, [&m](auto& c) { return c.on_rate_changed(m.handle); });
      if (code != RTC_OK)
        result = code;
    }
    return result;
  }

  ReturnCode_t PeriodicExecutionContext::add_component(LightweightRTObject_ptr comp)
  {
    if (CORBA::is_nil(comp))
      return BAD_PARAMETER;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (find(comp))
        return PRECONDITION_NOT_MET;
    }
    ExecutionContextService_var self = getObjRef();
    ExecutionContextHandle_t handle;
    DataFlowComponentAction_var dataFlow;
    try {
      handle = comp->attach_context(self);
      RTObject_var asObject = RTC::RTObject::_narrow(comp);
      if (CORBA::is_nil(asObject))
        return RTC_ERROR;
      dataFlow = RTC::DataFlowComponentAction::_narrow(comp);
    }
    catch (const CORBA::Exception&) {
      return RTC_ERROR;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    members_.push_back(Member{nextMemberId_++, RTC::LightweightRTObject::_duplicate(comp), dataFlow._retn(), nullptr,
                              handle, false, INACTIVE_STATE, Request::None, 0, INACTIVE_STATE});
    ++membership_;
    return RTC_OK;
  }

  ReturnCode_t PeriodicExecutionContext::remove_component(LightweightRTObject_ptr comp)
  {
    ExecutionContextHandle_t handle;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Member* m = find(comp);
      if (!m || m->owner)
        return BAD_PARAMETER;
      handle = m->handle;
      members_.erase(members_.begin() + (m - members_.data()));
      ++membership_;
    }
    guarded([&] { return comp->detach_context(handle); });
    return RTC_OK;
  }

  ReturnCode_t PeriodicExecutionContext::requestTransition(LightweightRTObject_ptr comp,
                                                            LifeCycleState from, Request request)
  {
    std::unique_lock<std::mutex> lock(mutex_);
    Member* m = find(comp);
    if (!m)
      return BAD_PARAMETER;
    if (m->state != from || !running_)
      return PRECONDITION_NOT_MET;
    const unsigned long id = m->id;
    const unsigned long target = m->requestsServed + 1;
    m->request = request;
    pendingRequests_ = true;
    wakeRunner();
    if (onOwnThread() || !synchronous_)
      return RTC_OK;  // carried out at the start of the next cycle

    LifeCycleState reached = from;
    changed_.wait_for(lock, transitionTimeout_, [&] {
      for (const Member& x : members_)
        if (x.id == id) {
          reached = x.requestsServed >= target ? x.transitionReached : x.state;
          return x.requestsServed >= target;
        }
      return true;  // removed meanwhile
    });
    switch (request) {
      case Request::Activate:
        return reached == ACTIVE_STATE ? RTC_OK : reached == ERROR_STATE ? PRECONDITION_NOT_MET : RTC_ERROR;
      case Request::Deactivate:
        return reached == INACTIVE_STATE ? RTC_OK : reached == ERROR_STATE ? PRECONDITION_NOT_MET : RTC_ERROR;
      default:
        return reached == INACTIVE_STATE ? RTC_OK : RTC_ERROR;
    }
  }

  ReturnCode_t PeriodicExecutionContext::activate_component(LightweightRTObject_ptr comp)
  {
    return requestTransition(comp, INACTIVE_STATE, Request::Activate);
  }

  ReturnCode_t PeriodicExecutionContext::deactivate_component(LightweightRTObject_ptr comp)
  {
    return requestTransition(comp, ACTIVE_STATE, Request::Deactivate);
  }

  ReturnCode_t PeriodicExecutionContext::reset_component(LightweightRTObject_ptr comp)
  {
    return requestTransition(comp, ERROR_STATE, Request::Reset);
  }

  LifeCycleState PeriodicExecutionContext::get_component_state(LightweightRTObject_ptr comp)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Member* m = find(comp);
    return m ? m->state : CREATED_STATE;
  }

  ExecutionKind PeriodicExecutionContext::get_kind()
  {
    return PERIODIC;
  }

  ExecutionContextProfile* PeriodicExecutionContext::get_profile()
  {
    ExecutionContextProfile_var profile = new ExecutionContextProfile;
    std::lock_guard<std::mutex> lock(mutex_);
    profile->kind = PERIODIC;
    profile->rate = rate_;
    profile->owner = RTC::RTObject::_nil();
    for (const Member& m : members_) {
      if (m.owner) {
        profile->owner = RTC::RTObject::_narrow(m.component);
        continue;
      }
      CORBA::ULong at = profile->participants.length();
      profile->participants.length(at + 1);
      profile->participants[at] = RTC::RTObject::_narrow(m.component);
    }
    std::ostringstream rate;
    rate << rate_;
    appendString(profile->properties, "type", "PeriodicExecutionContext");
    appendString(profile->properties, "rate", rate.str());
    appendString(profile->properties, "sync_transition", synchronous_ ? "YES" : "NO");
    std::ostringstream timeout;
    timeout << transitionTimeout_.count();
    appendString(profile->properties, "transition_timeout", timeout.str());
    return profile._retn();
  }
}
