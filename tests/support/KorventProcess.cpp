#include "KorventProcess.h"

#include "GridMapClient.h"
#include "NameServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

std::unique_ptr<ChildProcess> startKorventComp(const std::string& nameServerAddress,
                                               const std::vector<std::string>& extraArgs)
{
  // Run where no rtc.conf lies, so that only these arguments apply.
  std::vector<std::string> argv{"/usr/bin/env", "-C", "/", KORVENTCOMP_PATH,
                                "-o", "corba.nameservers:" + nameServerAddress,
                                "-o", "corba.endpoints:127.0.0.1:",
                                "-o", "corba.args:-ORBgiopMaxMsgSize 268435456",
                                "-o", "naming.update.interval:0.2",
                                // generous: a loaded CI machine may be slow to schedule the context
                                "-o", "exec_cxt.transition_timeout:5",
                                // stderr then holds what a user is warned about, nothing else;
                                // a test of the log sets its own level after this
                                "-o", "logger.log_level:WARN"};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  return std::make_unique<ChildProcess>(argv);
}

std::string korventName()
{
  return hostName() + ".host_cxt/Korvent0.rtc";
}

bool waitForKorventName(const NameServer& names, std::chrono::milliseconds timeout)
{
  return waitFor([&] {
    CORBA::Object_var object = names.resolve(korventName());
    return !CORBA::is_nil(object);
  }, timeout);
}

RunningKorvent::RunningKorvent(const std::vector<std::string>& extraArgs)
{
  names.start();
  process = startKorventComp(names.address(), extraArgs);
  if (!waitFor([this] { return bound(); }, std::chrono::seconds(20)))
    throw std::runtime_error("KorventComp was not bound: " + process->errorOutput());
  CORBA::Object_var object = names.resolve(korventName());
  rtc = RTC::RTObject::_narrow(object);
  RTC::PortServiceList_var ports = rtc->get_ports();
  port = RTC::PortService::_duplicate(ports[0]);

  service = providedService(clientOrb(), rtc);
  if (CORBA::is_nil(service))
    throw std::runtime_error("KorventPV did not hand out its service");
  region = providedRegionService(clientOrb(), rtc);
  if (CORBA::is_nil(region))
    throw std::runtime_error("KorventPV did not hand out its region service");
  CORBA::String_var ior = clientOrb()->object_to_string(service);
  serviceIor = ior.in();
}

bool RunningKorvent::bound() const
{
  CORBA::Object_var object = names.resolve(korventName());
  try {
    return !CORBA::is_nil(object) && !object->_non_existent();
  }
  catch (const CORBA::Exception&) {
    return false;
  }
}

CORBA::ULong RunningKorvent::connectorCount() const
{
  RTC::ConnectorProfileList_var connectors = port->get_connector_profiles();
  return connectors->length();
}

long procStatus(pid_t pid, const std::string& field)
{
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

long openSockets(pid_t pid)
{
  std::error_code error;
  std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
  if (error)
    return -1;
  long sockets = 0;
  for (const std::filesystem::directory_entry& fd : fds) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    sockets += !error && target.rfind("socket:", 0) == 0 ? 1 : 0;
  }
  return sockets;
}

std::string loggedValue(ChildProcess& component, const std::string& pattern, const std::string& what,
                        std::chrono::milliseconds timeout)
{
  const std::regex line(pattern);
  std::smatch found;
  std::string log;
  if (!waitFor([&] {
        log = component.errorOutput();
        return std::regex_search(log, found, line);
      }, timeout))
    throw std::runtime_error("no " + what + " in the log: " + log);
  return found[1];
}
