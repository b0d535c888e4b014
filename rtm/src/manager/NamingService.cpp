#include "rtm/manager/NamingService.h"

#include "rtm/util/Logger.h"

#include <algorithm>

namespace RTC
{
  CosNaming::Name toCosName(const std::string& name)
  {
    CosNaming::Name cosName;
    for (const std::string& part : splitList(name, '/')) {
      const std::size_t dot = part.rfind('.');
      CORBA::ULong at = cosName.length();
      cosName.length(at + 1);
      cosName[at].id = (dot == std::string::npos ? part : part.substr(0, dot)).c_str();
      cosName[at].kind = (dot == std::string::npos ? "" : part.substr(dot + 1)).c_str();
    }
    return cosName;
  }

  NamingService::NamingService(CORBA::ORB_ptr orb, const std::vector<std::string>& servers,
                               bool retries)
    : orb_(CORBA::ORB::_duplicate(orb)), retries_(retries)
  {
    for (const std::string& s : servers)
      servers_.push_back(Server{s});
  }

  CosNaming::NamingContext_ptr NamingService::rootOf(const std::string& address)
  {
    const std::string url = "corbaloc::" + address + "/NameService";
    CORBA::Object_var object = orb_->string_to_object(url.c_str());
    // Unchecked: the address says what it is, and a checked narrow would cost
    // a hung server one more call timeout.
    return CosNaming::NamingContext::_unchecked_narrow(object);
  }

  std::vector<NamingService::Server> NamingService::serversCopy()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return servers_;
  }

  void NamingService::noteAnswer(const std::string& address, bool answered)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Server& server : servers_) {
      if (server.address != address)
        continue;
      if (!answered && server.answering)
        logger().warn("warning: name server " + address + " does not answer; " +
                      (retries_ ? "the component's names will be bound when it does"
                                : "the component's names are not bound"));
      if (answered && !server.answering)
        logger().info("name server " + address + " answers again; the component's names are bound there");
      server.answering = answered;
    }
  }

  bool NamingService::bindOn(const std::string& address, const std::string& name, CORBA::Object_ptr object)
  {
    try {
      CosNaming::NamingContext_var root = rootOf(address);
      if (CORBA::is_nil(root))
        return false;
      const CosNaming::Name cosName = toCosName(name);
      // Create (or reuse) every context on the way, then bind the object.
      CosNaming::Name path;
      for (CORBA::ULong i = 0; i + 1 < cosName.length(); ++i) {
        path.length(i + 1);
        path[i] = cosName[i];
        try {
          CosNaming::NamingContext_var created = root->bind_new_context(path);
        }
        catch (const CosNaming::NamingContext::AlreadyBound&) {
        }
      }
      root->rebind(cosName, object);
      return true;
    }
    catch (const CORBA::Exception&) {
      return false;
    }
  }

  void NamingService::unbindOn(const std::string& address, const std::string& name)
  {
    try {
      CosNaming::NamingContext_var root = rootOf(address);
      if (!CORBA::is_nil(root))
        root->unbind(toCosName(name));
    }
    catch (const CORBA::Exception&) {
      // Gone already, or the server is down: nothing is left bound there.
    }
  }

  void NamingService::bind(const std::string& name, CORBA::Object_ptr object)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      names_.emplace_back(name, CORBA::Object::_duplicate(object));
    }
    for (const Server& server : serversCopy()) {
      const bool bound = bindOn(server.address, name, object);
      if (bound)
        logger().info("bound the name " + name + " on name server " + server.address);
      noteAnswer(server.address, bound);
    }
  }

  void NamingService::unbind(const std::string& name)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      names_.erase(std::remove_if(names_.begin(), names_.end(), [&](const auto& entry) { return entry.first == name; }),
                   names_.end());
    }
    for (const Server& server : serversCopy())
      if (server.answering)
        unbindOn(server.address, name);
  }

  void NamingService::unbindAll()
  {
    std::vector<std::string> names;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& entry : names_)
        names.push_back(entry.first);
    }
    for (const std::string& name : names)
      unbind(name);
  }

  void NamingService::refresh()
  {
    std::vector<std::pair<std::string, CORBA::Object_var>> names;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      names = names_;
    }
    for (const Server& server : serversCopy()) {
      bool answered = true;
      for (const auto& entry : names)
        if (!(answered = bindOn(server.address, entry.first, entry.second)))
          break;
      noteAnswer(server.address, answered);
    }
  }
}
