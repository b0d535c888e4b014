#ifndef RTM_ACTIVATEDSERVANT_H
#define RTM_ACTIVATEDSERVANT_H

#include <omniORB4/CORBA.h>

#include <atomic>

namespace RTC
{
  // One servant's activation in a POA.  Deactivation returns at once (it may
  // run inside a call on that very servant); the POA lets go of the servant
  // once the last call in progress on it has returned, which must happen
  // before it is destroyed: isReleased() tells, waitReleased() waits for it.
  // The destructor deactivates and waits.
  class ActivatedServant
  {
  public:
    ActivatedServant() = default;
    ~ActivatedServant();
    ActivatedServant(const ActivatedServant&) = delete;
    ActivatedServant& operator=(const ActivatedServant&) = delete;

    void activate(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant);
    bool isActive() const { return active_; }
    CORBA::Object_ptr reference() const { return reference_.in(); }  // not duplicated
    void deactivate();
    bool isReleased() const;
    void waitReleased();

  private:
    PortableServer::POA_var poa_;
    PortableServer::ObjectId_var id_;
    PortableServer::ServantBase* servant_ = nullptr;
    CORBA::Object_var reference_;
    std::atomic<bool> active_{false};
  };
}

#endif // RTM_ACTIVATEDSERVANT_H
