// KorventComp: hosts one Korvent component until the manager shuts down.
#include "Korvent.h"

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
  manager->setModuleInitProc(initModule);
  manager->activateManager();
  manager->runManager(false);
  return 0;
}
