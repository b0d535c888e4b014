#ifndef RTM_PERIODICEXECUTIONCONTEXT_H
#define RTM_PERIODICEXECUTIONCONTEXT_H

#include <RTC.hh>

#include "rtm/orb/ActivatedServant.h"
#include "rtm/util/TimedWakeup.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace RTC
{
  class RTObject_impl;

  // Drives its components' life cycle on a thread of its own at a fixed
  // rate: state transitions at the start of a cycle, then on_execute and
  // on_state_update for active components, on_error for failed ones.
  // Between cycles the thread sleeps; while no component is active or
  // failed it sleeps until a transition is asked for, as a cycle would have
  // nothing to call.
  class PeriodicExecutionContext : public virtual POA_RTC::ExecutionContextService
  {
  public:
    // Highest rate accepted, in Hz: beyond it a cycle is shorter than the
    // callbacks themselves can ever be.
    static constexpr double maxRate = 100000.0;

    // `synchronous`: activate/deactivate/reset wait up to `transitionTimeout`
    // for the transition and report its outcome; otherwise they return as
    // soon as it is queued.
    PeriodicExecutionContext(double rate, bool synchronous, std::chrono::duration<double> transitionTimeout);
    ~PeriodicExecutionContext() override;

    void activate(PortableServer::POA_ptr poa);
    void deactivate();
    bool isReleased() const { return activation_.isReleased(); }
    ExecutionContextService_ptr getObjRef() const;  // duplicated

    // Makes `owner` the component this context belongs to, with handle 0.
    // Its callbacks are made on `servant` directly, not through the ORB:
    // at 1 kHz the ORB's local-call path would cost a few percent of a core.
    void bindOwner(LightweightRTObject_ptr owner, RTObject_impl& servant);
    // Stops the thread for good; the context calls nothing afterwards.
    void terminate();

    // RTC::ExecutionContext
    CORBA::Boolean is_running() override;
    ReturnCode_t start() override;
    ReturnCode_t stop() override;
    CORBA::Double get_rate() override;
    ReturnCode_t set_rate(CORBA::Double rate) override;
    ReturnCode_t add_component(LightweightRTObject_ptr comp) override;
    ReturnCode_t remove_component(LightweightRTObject_ptr comp) override;
    ReturnCode_t activate_component(LightweightRTObject_ptr comp) override;
    ReturnCode_t deactivate_component(LightweightRTObject_ptr comp) override;
    ReturnCode_t reset_component(LightweightRTObject_ptr comp) override;
    LifeCycleState get_component_state(LightweightRTObject_ptr comp) override;
    ExecutionKind get_kind() override;
    // RTC::ExecutionContextService
    ExecutionContextProfile* get_profile() override;

  private:
    enum class Request { None, Activate, Deactivate, Reset };

    struct Member
    {
      unsigned long id;                      // this context's own, unique among its members
      LightweightRTObject_var component;
      DataFlowComponentAction_var dataFlow;  // nil if it has no data-flow callbacks
      RTObject_impl* local;                  // the owner's servant; null for others
      ExecutionContextHandle_t handle;       // the component's name for this context
      bool owner;
      LifeCycleState state;
      Request request;
      unsigned long requestsServed;
      // The state the last transition reached, before any on_execute of the
      // same cycle could move it on: what a synchronous request reports.
      LifeCycleState transitionReached;
    };

    template <class Callback>
    ReturnCode_t act(const Member& m, Callback callback);
    template <class Callback>
    ReturnCode_t actDataFlow(const Member& m, Callback callback);
    void run();
    void runCycle(std::vector<Member>& members, bool execute);
    Member* find(LightweightRTObject_ptr comp);
    ReturnCode_t requestTransition(LightweightRTObject_ptr comp, LifeCycleState from, Request request);
    std::vector<Member> membersCopy();
    bool onOwnThread() const;
    bool needsCycles() const;
    // After a change the running thread must see: it may be asleep on
    // changed_ or, between cycles, on runnerWakeup_.
    void wakeRunner();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    TimedWakeup runnerWakeup_;  // the running thread's sleep between cycles
    std::vector<Member> members_;
    double rate_;
    const bool synchronous_;
    const std::chrono::duration<double> transitionTimeout_;
    unsigned long nextMemberId_ = 0;
    unsigned long membership_ = 0;  // changes whenever a member joins or leaves
    bool running_ = false;
    bool inCycle_ = false;
    bool quit_ = false;
    bool pendingRequests_ = false;
    ActivatedServant activation_;
    std::thread thread_;
  };
}

#endif // RTM_PERIODICEXECUTIONCONTEXT_H
