#ifndef TESTS_SUPPORT_GRIDMAPCLIENT_H
#define TESTS_SUPPORT_GRIDMAPCLIENT_H

#include <Korvent.hh>
#include <KorventRegion.hh>
#include <RTC.hh>

#include <string>
#include <vector>

// ORB options that let a test move maps of up to 256 MiB over the wire;
// the ORB's default message limit is 2 MiB.
std::vector<std::string> largeMessageOrbOptions();

// The test process's client ORB, initialised once with the options above.
CORBA::ORB_ptr clientOrb();

// The client ORB's root POA, active, for ports and servants of the test's own.
PortableServer::POA_ptr clientPoa();

// Resolves a stringified IOR or corbaname/corbaloc URL to the service.
Korvent_ptr korventFromString(const std::string& reference);

// The object a component provides under the connector property `property`
// ("port.<type>.<instance>"), obtained as a consumer would: a connection to
// its service port alone publishes the provider's reference, and is
// removed again once it is read.  Nil when no port provides it.
CORBA::Object_ptr providedObject(CORBA::ORB_ptr orb, RTC::RTObject_ptr component, const std::string& property);
// Its map service and its region service, that way.
Korvent_ptr providedService(CORBA::ORB_ptr orb, RTC::RTObject_ptr component);
KorventRegion_ptr providedRegionService(CORBA::ORB_ptr orb, RTC::RTObject_ptr component);

RTC::TimedOctetSeq makeMap(const std::vector<CORBA::Octet>& octets,
                           CORBA::ULong sec = 0, CORBA::ULong nsec = 0);
std::vector<CORBA::Octet> octetsOf(const RTC::TimedOctetSeq& map);
// Cells for a region write.
KorventRegion::CellSeq cellSeqOf(const std::vector<CORBA::Octet>& octets);

#endif // TESTS_SUPPORT_GRIDMAPCLIENT_H
