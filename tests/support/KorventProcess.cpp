#include "KorventProcess.h"

#include "NameServer.h"

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
