// KorventComp: hosts one Korvent component until the manager shuts down.
#include "Korvent.h"

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
  manager->setModuleInitProc(initModule);
  manager->activateManager();
  manager->runManager(false);
  return 0;
}
