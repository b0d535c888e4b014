#include "rtm/NamingService.h"

#include <iostream>
#include <sys/utsname.h>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    const CORBA::ULong namingCallTimeoutMs = 3000;

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
                               std::string programName, bool retries)
    : orb_(CORBA::ORB::_duplicate(orb)), programName_(std::move(programName)), retries_(retries)
  {
    for (const std::string& s : servers)
      servers_.push_back(Server{s});
  }

  CosNaming::NamingContext_ptr NamingService::rootOf(const Server& server)
  {
    const std::string url = "corbaloc::" + server.address + "/NameService";
    CORBA::Object_var object = orb_->string_to_object(url.c_str());
    // A name server that hangs must not hang the component with it.
    omniORB::setClientCallTimeout(object, namingCallTimeoutMs);
    return CosNaming::NamingContext::_narrow(object);
  }

  void NamingService::reportFailure(Server& server)
  {
    if (!server.answering)
      return;
    server.answering = false;
    std::cerr << programName_ << ": warning: name server " << server.address << " does not answer; "
              << (retries_ ? "the component's names will be bound when it does"
                           : "the component's names are not bound")
              << std::endl;
  }

  bool NamingService::bindOn(Server& server, const std::string& name, CORBA::Object_ptr object)
  {
    try {
      CosNaming::NamingContext_var root = rootOf(server);
      if (CORBA::is_nil(root)) {
        reportFailure(server);
        return false;
      }
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
      server.answering = true;
      return true;
    }
    catch (const CORBA::Exception&) {
      reportFailure(server);
      return false;
    }
  }

  void NamingService::unbindOn(Server& server, const std::string& name)
  {
    if (!server.answering)
      return;
    try {
      CosNaming::NamingContext_var root = rootOf(server);
      if (!CORBA::is_nil(root))
        root->unbind(toCosName(name));
    }
    catch (const CORBA::Exception&) {
      // Gone already, or the server is down: nothing is left bound there.
    }
  }

  void NamingService::bind(const std::string& name, CORBA::Object_ptr object)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.emplace_back(name, CORBA::Object::_duplicate(object));
    for (Server& server : servers_)
      bindOn(server, name, object);
  }

  void NamingService::unbind(const std::string& name)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = names_.begin(); it != names_.end();) {
      if (it->first == name)
        it = names_.erase(it);
      else
        ++it;
    }
    for (Server& server : servers_)
      unbindOn(server, name);
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
    std::lock_guard<std::mutex> lock(mutex_);
    for (Server& server : servers_)
      for (const auto& entry : names_)
        if (!bindOn(server, entry.first, entry.second))
          break;
  }
}
