#ifndef RTM_COMPONENTHOST_H
#define RTM_COMPONENTHOST_H

#include <omniORB4/CORBA.h>

namespace RTC
{
  class RTObject_impl;

  // The few services a component needs from the process that hosts it.
  // The manager is one; a component sees nothing else of it.
  class ComponentHost
  {
  public:
    virtual CORBA::ORB_ptr getORB() = 0;            // not duplicated
    virtual PortableServer::POA_ptr getPOA() = 0;   // not duplicated
    // Called when a component starts to exit: the host stops advertising it
    // (unbinds its names) while the component takes leave of its peers.
    virtual void componentExiting(RTObject_impl* component) = 0;
    // Called by a component that has finished exiting, possibly from inside
    // one of its own CORBA calls: the host deletes it later, not here, and
    // only once the ORB no longer runs any call on it.
    virtual void componentExited(RTObject_impl* component) = 0;

  protected:
    ~ComponentHost() = default;
  };
}

#endif // RTM_COMPONENTHOST_H
