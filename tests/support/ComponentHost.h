#ifndef TESTS_SUPPORT_COMPONENTHOST_H
#define TESTS_SUPPORT_COMPONENTHOST_H

#include <rtm/manager/Manager.h>

// For programs that host one test component in a real manager.
// Registers the component type `profile` names ("implementation_id" first),
// creates one instance and prints its IOR on a line of its own; aborts if
// the instance cannot be created.
void createAndPrintComponent(RTC::Manager* manager, const char* profile[], RTC::Manager::FactoryNew create,
                             RTC::Manager::FactoryDelete destroy);

// The whole main(): starts the manager from the command line, runs `init`
// as its module initialiser and serves until the manager shuts down.
int runComponentHost(int argc, char** argv, RTC::Manager::ModuleInitProc init);

#endif // TESTS_SUPPORT_COMPONENTHOST_H
