#include "rtm/NamingService.h"

#include "rtm/Logger.h"

#include <algorithm>
#include <sys/utsname.h>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    std::string hostName()
    {
      utsname names;
      return uname(&names) == 0 ? names.nodename : "localhost";
    }
  }

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

  std::string formatName(const std::string& format, const Properties& component,
                         const std::string& managerName)
  {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] != '%' || i + 1 == format.size()) {
        out += format[i];
        continue;
      }
      const char code = format[++i];
      const std::string instance = component.getProperty("instance_name");
      const std::string implementation = component.getProperty("implementation_id");
      switch (code) {
        case 'n': out += instance; break;
        case 't':
        case 'm': out += component.getProperty("type_name"); break;
        case 'v': out += component.getProperty("version"); break;
        case 'V': out += component.getProperty("vendor"); break;
        case 'c': out += component.getProperty("category"); break;
        case 'i': out += implementation; break;
        case 'N':
          out += instance.compare(0, implementation.size(), implementation) == 0
                     ? instance.substr(implementation.size()) : instance;
          break;
        case 'h': out += hostName(); break;
        case 'M': out += managerName; break;
        case 'p': out += std::to_string(getpid()); break;
        case '%': out += '%'; break;
        default: out += '%'; out += code; break;
      }
    }
    return out;
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
