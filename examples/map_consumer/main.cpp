// map_consumer: hosts one MapConsumer component; takes the usual manager
// command line (-f rtc.conf, -o key:value, -ORB... options).
#include "MapConsumer.h"

#include <cstdlib>
#include <iostream>

namespace
{
  void initModule(RTC::Manager* manager)
  {
    registerMapConsumerFactory(manager);
    if (manager->createComponent("MapConsumer") == nullptr) {
      std::cerr << "map_consumer: creating the component failed" << std::endl;
      std::abort();
    }
  }
}

int main(int argc, char** argv)
{
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  manager->setModuleInitProc(initModule);
  manager->activateManager();
  manager->runManager(false);
  return 0;
}
