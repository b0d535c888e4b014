#ifndef TESTS_SUPPORT_KORVENTPROCESS_H
#define TESTS_SUPPORT_KORVENTPROCESS_H

#include "ChildProcess.h"
#include "NameServer.h"

#include <Korvent.hh>
#include <KorventRegion.hh>
#include <RTC.hh>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Runs the real KorventComp with loopback settings, logging at WARN, and
// the given extra command-line arguments (which win).
std::unique_ptr<ChildProcess> startKorventComp(const std::string& nameServerAddress,
                                               const std::vector<std::string>& extraArgs = {});

// The name the component binds in the name service.
std::string korventName();

// Waits until the component's name is bound on `names`; false on timeout.
bool waitForKorventName(const NameServer& names, std::chrono::milliseconds timeout = std::chrono::seconds(20));
// A private name server and a KorventComp bound in it, with references to
// its component, its "KorventPV" port and the map and region services that
// port offers.
// Throws if the component is not bound within 20 s.  The process is killed
// with the object if the test did not stop it.
struct RunningKorvent
{
  explicit RunningKorvent(const std::vector<std::string>& extraArgs = {});

  bool bound() const;                // the name resolves to a live object
  CORBA::ULong connectorCount() const;  // connectors KorventPV lists

  NameServer names;
  std::unique_ptr<ChildProcess> process;
  RTC::RTObject_var rtc;
  RTC::PortService_var port;
  std::string serviceIor;
  Korvent_var service;
  KorventRegion_var region;
};

// The first group of the regular expression `pattern` where it first
// matches the component's log; throws naming `what` when it does not within
// the timeout.
std::string loggedValue(ChildProcess& component, const std::string& pattern, const std::string& what,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Values read from /proc/<pid>/status ("Threads", "VmRSS", "VmHWM"; kB for
// sizes), or -1 when the process or the field is not there.
long procStatus(pid_t pid, const std::string& field);

// Sockets the process has open, or -1 when it is not there.
long openSockets(pid_t pid);

#endif // TESTS_SUPPORT_KORVENTPROCESS_H
