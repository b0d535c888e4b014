#include "OrbServer.h"

#include <csignal>
#include <iostream>
#include <pthread.h>

int runOrbServer(int argc, char** argv,
                 const std::function<void(CORBA::ORB_ptr, PortableServer::POA_ptr)>& activate)
{
  // Block the stop signals before the ORB starts threads, so that only
  // sigwait below ever sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
  {
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    activate(orb, poa);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
  }
  std::cout.flush();

  int signal = 0;
  sigwait(&stopSignals, &signal);
  orb->shutdown(true);
  orb->destroy();
  return 0;
}

void printReference(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa,
                    PortableServer::Servant servant)
{
  PortableServer::ObjectId_var id = poa->activate_object(servant);
  CORBA::Object_var reference = poa->id_to_reference(id);
  CORBA::String_var ior = orb->object_to_string(reference);
  std::cout << ior.in() << '\n';
}
