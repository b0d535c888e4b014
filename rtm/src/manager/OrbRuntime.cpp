#include "rtm/manager/OrbRuntime.h"

#include "rtm/orb/Compression.h"
#include "rtm/orb/LocalSocket.h"
#include "rtm/manager/ManagerConfig.h"
#include "rtm/orb/SocketTable.h"
#include "rtm/orb/TransportSecurity.h"

namespace RTC
{
  OrbRuntime::OrbRuntime(const Properties& config, int argc, char** argv)
  {
    if (const std::optional<TlsSettings> tls = configuredTlsSettings(config)) {
      try {
        applyTlsSettings(*tls);
      }
      catch (const std::runtime_error& error) {
        throw ConfigError(error.what());
      }
    }
    prepareLocalSocketFolder(localSocketSettings(config));
    std::vector<std::string> orbArgs = orbArguments(config, argc, argv);
    std::vector<char*> orbArgv;
    bool tracing = false;
    for (std::string& a : orbArgs) {
      orbArgv.push_back(a.data());
      tracing = tracing || a.rfind("-ORBtrace", 0) == 0;
    }
    // The manager reports what goes wrong in one line of its own; the ORB's
    // log is for those who ask for it with -ORBtrace... options.
    if (!tracing)
      omniORB::setLogFunction([](const char*) {});
    int orbArgc = static_cast<int>(orbArgv.size());
    try {
      orb_ = CORBA::ORB_init(orbArgc, orbArgv.data());
      if (isYes(config.getProperty("corba.compression.enable")))
        enableCompression(static_cast<unsigned>(numericSetting(config, "corba.compression.level")),
                          static_cast<unsigned long>(numericSetting(config, "corba.compression.min_bytes")));
      CORBA::Object_var root = orb_->resolve_initial_references("RootPOA");
      poa_ = PortableServer::POA::_narrow(root);
    }
    catch (const CORBA::Exception& error) {
      std::string endpoints = config.getProperty("corba.endpoints");
      const std::string single = config.getProperty("corba.endpoint");
      if (!single.empty())
        endpoints += (endpoints.empty() ? "" : ",") + single;
      throw ConfigError(std::string("cannot start the ORB (") + error._name() +
                        (endpoints.empty() ? "); check corba.args" : "); check the end points " + endpoints));
    }
  }

  OrbRuntime::~OrbRuntime()
  {
    shutdown();
  }

  std::vector<std::string> OrbRuntime::listeningAddresses() const
  {
    // What the kernel says this process listens on is the truth, whatever
    // mix of end-point options produced it.
    const std::set<unsigned long> own = ownSocketInodes();
    std::vector<std::string> addresses;
    for (const TcpSocket& socket : tcpSockets()) {
      if (!socket.listening() || !own.count(socket.inode))
        continue;
      const bool v6 = socket.localHost.find(':') != std::string::npos;
      addresses.push_back((v6 ? "[" + socket.localHost + "]" : socket.localHost) + ":" +
                          std::to_string(socket.localPort));
    }
    return addresses;
  }

  void OrbRuntime::shutdown()
  {
    if (down_ || CORBA::is_nil(orb_))
      return;
    down_ = true;
    orb_->shutdown(true);
    orb_->destroy();
  }

  bool isLoopbackAddress(const std::string& address)
  {
    const std::size_t colon = address.rfind(':');
    std::string host = colon == std::string::npos ? address : address.substr(0, colon);
    if (!host.empty() && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
  }
}
