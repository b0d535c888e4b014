#ifndef RTM_NAMINGSERVICE_H
#define RTM_NAMINGSERVICE_H

#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include "rtm/util/Properties.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace RTC
{
  // Keeps a set of names bound on every configured name server.  A server
  // that does not answer is reported once (WARN) and tried again
  // by refresh(), so a name server started late or restarted gets the names
  // back.  Every call to a name server is bounded by the ORB's call timeout,
  // and no lock is held during one, so any method may run on any thread.
  class NamingService
  {
  public:
    // `servers` as in corba.nameservers: "host[:port]" entries.
    NamingService(CORBA::ORB_ptr orb, const std::vector<std::string>& servers, bool retries);

    void bind(const std::string& name, CORBA::Object_ptr object);
    void unbind(const std::string& name);
    void unbindAll();
    void refresh();

  private:
    struct Server
    {
      std::string address;
      bool answering = true;  // false once reported as not answering
    };

    bool bindOn(const std::string& address, const std::string& name, CORBA::Object_ptr object);
    void unbindOn(const std::string& address, const std::string& name);
    CosNaming::NamingContext_ptr rootOf(const std::string& address);
    std::vector<Server> serversCopy();
    void noteAnswer(const std::string& address, bool answered);

    CORBA::ORB_var orb_;
    const bool retries_;
    std::mutex mutex_;  // guards the two lists below, never held during a call
    std::vector<Server> servers_;
    std::vector<std::pair<std::string, CORBA::Object_var>> names_;
  };

  // "a.b/c.d" -> {id a, kind b}, {id c, kind d}: parts at '/', each split at
  // its last '.'.
  CosNaming::Name toCosName(const std::string& name);
}

#endif // RTM_NAMINGSERVICE_H
