#include "ComponentHost.h"

#include <rtm/component/RTObject.h>

#include <cstdlib>
#include <iostream>

void createAndPrintComponent(RTC::Manager* manager, const char* profile[], RTC::Manager::FactoryNew create,
                             RTC::Manager::FactoryDelete destroy)
{
  RTC::Properties properties(profile);
  manager->registerFactory(properties, create, destroy);
  RTC::RTObject_impl* component = manager->createComponent(profile[1]);
  if (!component)
    std::abort();
  RTC::RTObject_var reference = component->getObjRef();
  CORBA::String_var ior = manager->getORB()->object_to_string(reference);
  std::cout << ior.in() << std::endl;
}

int runComponentHost(int argc, char** argv, RTC::Manager::ModuleInitProc init)
{
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  manager->setModuleInitProc(init);
  manager->activateManager();
  manager->runManager(false);
  return 0;
}
