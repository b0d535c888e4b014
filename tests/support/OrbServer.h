#ifndef TESTS_SUPPORT_ORBSERVER_H
#define TESTS_SUPPORT_ORBSERVER_H

#include <omniORB4/CORBA.h>

#include <functional>

// Body of a small server program: initialises the ORB from the command line,
// lets `activate` put its servants into the root POA and print their IORs
// (one per line, standard output is flushed afterwards), then serves until
// SIGINT or SIGTERM and shuts the ORB down.  Returns the exit status.
int runOrbServer(int argc, char** argv,
                 const std::function<void(CORBA::ORB_ptr, PortableServer::POA_ptr)>& activate);

// Activates `servant` in `poa` and prints its stringified reference.
void printReference(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa,
                    PortableServer::Servant servant);

#endif // TESTS_SUPPORT_ORBSERVER_H
