// KorventComp: hosts one Korvent component until the manager shuts down.
#include "Korvent.h"
#include "StartupMap.h"

#include "mapio/MapError.h"

#include <ace/OS_main.h>

#include <cstdlib>
#include <iostream>

void initModule(RTC::Manager* manager)
{
  registerKorventFactory(manager);
  RTC::RTObject_impl* component = manager->createComponent("Korvent");
  if (component == nullptr) {
    std::cerr << "Component create failed." << std::endl;
    abort();
  }
}

// ACE's main wrapper runs this as the program's main body.
int main(int argc, char** argv)
{
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
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
