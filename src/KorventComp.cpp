// KorventComp: hosts one Korvent component until the manager shuts down.
#include "Korvent.h"
#include "StartupMap.h"

#include "mapio/MapError.h"

#include <rtm/OrbRuntime.h>

// ACE's main wrapper only renames main on platforms whose ACE needs a
// non-static object manager; on Linux ACE's object manager is static and
// this header leaves main as it is: the wrapper is a no-op here.
#include <ace/OS_main.h>

#include <cstdlib>
#include <iostream>

namespace
{
  // A map server takes writes from anyone who reaches it: say so when that
  // is more than this machine.
  void warnWhenExposed(RTC::Manager& manager)
  {
    std::string exposed;
    for (const std::string& address : manager.listeningAddresses())
      if (!RTC::isLoopbackAddress(address))
        exposed += (exposed.empty() ? "" : ", ") + address;
    if (!exposed.empty())
      std::cerr << "KorventComp: warning: listening on " << exposed
                << ": anyone who can reach these addresses can read and replace the map"
                   " (set corba.endpoints to restrict it)" << std::endl;
  }
}

namespace
{
  // A name server on another host hands this component's reference to
  // clients there; a reference to the loopback is useless to them.
  void warnWhenUnreachable(RTC::Manager& manager)
  {
    const RTC::Properties& config = manager.getConfig();
    if (!RTC::isYes(config.getProperty("naming.enable"), true))
      return;
    for (const std::string& address : manager.listeningAddresses())
      if (!RTC::isLoopbackAddress(address))
        return;
    for (const std::string& server : RTC::splitList(config.getProperty("corba.nameservers"))) {
      if (RTC::isLoopbackAddress(server.find(':') == std::string::npos ? server + ":" : server))
        continue;
      std::cerr << "KorventComp: warning: registering with the name server " << server
                << " on another host while listening only on the loopback: clients there cannot reach"
                   " this component (set corba.endpoints to an address they can reach)" << std::endl;
      return;
    }
  }
}

void initModule(RTC::Manager* manager)
{
  registerKorventFactory(manager);
  RTC::RTObject_impl* component = manager->createComponent("Korvent");
  if (component == nullptr) {
    std::cerr << "Component create failed." << std::endl;
    abort();
  }
}

int main(int argc, char** argv)
{
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  warnWhenExposed(*manager);
  warnWhenUnreachable(*manager);
  std::unique_ptr<DurableMapWriter> durableMap;
  try {
    durableMap = loadConfiguredMap(manager->getConfig());
  }
  catch (const mapio::MapError& error) {
    // Nothing is bound or written yet: end at once, without the exit
    // handlers that would race the ORB's threads.
    std::cerr << "KorventComp: " << error.what() << std::endl;
    std::_Exit(1);
  }
  manager->setModuleInitProc(initModule);
  manager->activateManager();
  manager->runManager(false);
  durableMap.reset();  // saves a map still pending
  return 0;
}
