#ifndef TESTS_SUPPORT_NAMESERVER_H
#define TESTS_SUPPORT_NAMESERVER_H

#include "ChildProcess.h"

#include <omniORB4/CORBA.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// A free TCP port on 127.0.0.1 (free when asked; nothing holds it).
int freeLoopbackPort();

// Polls `condition` until it holds or the timeout passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A private omniNames on a loopback port, its state in a temporary folder
// that is removed with it.
class NameServer
{
public:
  explicit NameServer(int port = freeLoopbackPort());
  ~NameServer();

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  void start();  // always empty: a restart loses every binding
  void stop();
  bool answers() const;
  // Sends a signal to omniNames (SIGSTOP makes it a server that never answers).
  void signal(int signal);

  // The object bound under "id.kind/id.kind", or nil.
  CORBA::Object_ptr resolve(const std::string& name) const;

private:
  int port_;
  std::string stateDir_;
  std::unique_ptr<ChildProcess> process_;
};

// This machine's name as the component puts it into "%h".
std::string hostName();

#endif // TESTS_SUPPORT_NAMESERVER_H
