#include "NameServer.h"

#include "GridMapClient.h"

#include <omniORB4/Naming.hh>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

int freeLoopbackPort()
{
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string hostName()
{
  utsname names;
  uname(&names);
  return names.nodename;
}

NameServer::NameServer(int port)
  : port_(port)
{
  char pattern[] = "/tmp/names-XXXXXX";
  if (!mkdtemp(pattern))
    throw std::runtime_error("mkdtemp failed");
  stateDir_ = pattern;
}

NameServer::~NameServer()
{
  stop();
  std::filesystem::remove_all(stateDir_);
}

void NameServer::start()
{
  const std::string port = std::to_string(port_);
  // Every start is a fresh name server with no bindings: stale state files
  // would also make omniNames refuse -start.
  for (const auto& entry : std::filesystem::directory_iterator(stateDir_))
    std::filesystem::remove_all(entry.path());
  std::vector<std::string> argv{"/usr/bin/omniNames", "-start", port, "-datadir", stateDir_,
                                "-ORBendPoint", "giop:tcp:127.0.0.1:" + port};
  process_ = std::make_unique<ChildProcess>(argv);
  if (!waitFor([this] { return answers(); }, std::chrono::seconds(20)))
    throw std::runtime_error("omniNames did not answer: " + process_->errorOutput());
}

void NameServer::stop()
{
  if (process_) {
    process_->signal(SIGCONT);  // a test may have left it stopped
    process_->stop(SIGTERM, std::chrono::seconds(10));
  }
  process_.reset();
}

void NameServer::signal(int signal)
{
  if (process_)
    process_->signal(signal);
}

bool NameServer::answers() const
{
  try {
    const std::string url = "corbaloc::" + address() + "/NameService";
    CORBA::Object_var object = clientOrb()->string_to_object(url.c_str());
    CosNaming::NamingContext_var root = CosNaming::NamingContext::_narrow(object);
    return !CORBA::is_nil(root) && !root->_non_existent();
  }
  catch (const CORBA::Exception&) {
    return false;
  }
}

CORBA::Object_ptr NameServer::resolve(const std::string& name) const
{
  try {
    const std::string url = "corbaname::" + address() + "#" + name;
    CORBA::Object_ptr object = clientOrb()->string_to_object(url.c_str());
    return object;
  }
  catch (const CORBA::Exception&) {
    return CORBA::Object::_nil();
  }
}
