#ifndef RTM_ORBRUNTIME_H
#define RTM_ORBRUNTIME_H

#include <omniORB4/CORBA.h>

#include "rtm/util/Properties.h"

#include <string>
#include <vector>

namespace RTC
{
  // The process's ORB and root POA, started from the manager's
  // configuration and command line, shut down and destroyed once.
  class OrbRuntime
  {
  public:
    // Throws ConfigError, with a one-line reason, when the ORB cannot start.
    OrbRuntime(const Properties& config, int argc, char** argv);
    ~OrbRuntime();
    OrbRuntime(const OrbRuntime&) = delete;
    OrbRuntime& operator=(const OrbRuntime&) = delete;

    CORBA::ORB_ptr orb() const { return orb_.in(); }             // not duplicated
    PortableServer::POA_ptr poa() const { return poa_.in(); }    // not duplicated

    // The addresses the ORB listens on, "host:port".
    std::vector<std::string> listeningAddresses() const;

    // Waits for every call in progress to finish, then destroys the ORB;
    // afterwards no servant can be called any more.
    void shutdown();

  private:
    CORBA::ORB_var orb_;
    PortableServer::POA_var poa_;
    bool down_ = false;
  };

  // True for an address ("host:port") that only this machine can reach.
  bool isLoopbackAddress(const std::string& address);
}

#endif // RTM_ORBRUNTIME_H
