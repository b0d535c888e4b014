#ifndef RTM_ACTIVATEDSERVANT_H
#define RTM_ACTIVATEDSERVANT_H

#include <omniORB4/CORBA.h>

namespace RTC
{
  // One servant's activation in a POA.  Deactivation returns at once (it may
  // run inside a call on that very servant); waitReleased() then waits until
  // the POA has let go of the servant, which must happen before it is
  // destroyed.  The destructor does both.
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
    void waitReleased();

  private:
    PortableServer::POA_var poa_;
    PortableServer::ObjectId_var id_;
    PortableServer::ServantBase* servant_ = nullptr;
    CORBA::Object_var reference_;
    bool active_ = false;
  };
}

#endif // RTM_ACTIVATEDSERVANT_H
