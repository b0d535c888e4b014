// Serves one grid-map servant on a plain ORB and prints its IOR.
#include "service/KorventSVC_impl.h"
#include "OrbServer.h"

int main(int argc, char** argv)
{
  KorventSVC_impl service;
  return runOrbServer(argc, argv, [&](CORBA::ORB_ptr orb, PortableServer::POA_ptr poa) {
    printReference(orb, poa, &service);
  });
}
