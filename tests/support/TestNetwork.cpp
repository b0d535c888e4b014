#include "TestNetwork.h"

#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
  // Runs a command to its end; throws with the command line if it fails.
  // A quiet command's complaints are not shown: failing is expected of it.
  void run(const std::vector<std::string>& argv, bool quiet = false)
  {
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      if (quiet)
        freopen("/dev/null", "w", stderr);
      execvp(args[0], args.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::string line;
      for (const std::string& a : argv)
        line += a + " ";
      throw std::runtime_error("test network: failed: " + line);
    }
  }

  void runQuietly(const std::vector<std::string>& argv)
  {
    try {
      run(argv, true);
    }
    catch (const std::runtime_error&) {
      // Cleaning up: whatever is already gone need not go again.
    }
  }

  const char* const ip = "/usr/sbin/ip";
  const char* const tc = "/usr/sbin/tc";
}

bool TestNetwork::available()
{
  return geteuid() == 0 && access(ip, X_OK) == 0;
}

TestNetwork::TestNetwork(int hosts)
  : prefix_("kv" + std::to_string(getpid())), subnet_("10.213." + std::to_string(getpid() % 250) + ".")
{
  try {
    run({ip, "netns", "add", switchNamespace()});
    switchMade_ = true;
    run({ip, "-n", switchNamespace(), "link", "add", "br0", "type", "bridge"});
    run({ip, "-n", switchNamespace(), "link", "set", "br0", "up"});
    for (int h = 0; h < hosts; ++h) {
      run({ip, "netns", "add", hostNamespace(h)});
      hosts_ = h + 1;
      const std::string port = "port" + std::to_string(h);
      run({ip, "-n", hostNamespace(h), "link", "add", "eth0", "type", "veth", "peer", "name", port, "netns",
           switchNamespace()});
      run({ip, "-n", switchNamespace(), "link", "set", port, "master", "br0", "up"});
      run({ip, "-n", hostNamespace(h), "addr", "add", address(h) + "/24", "dev", "eth0"});
      run({ip, "-n", hostNamespace(h), "link", "set", "eth0", "up"});
      run({ip, "-n", hostNamespace(h), "link", "set", "lo", "up"});
    }
  }
  catch (...) {
    tearDown();
    throw;
  }
}

TestNetwork::~TestNetwork()
{
  tearDown();
}

void TestNetwork::tearDown()
{
  for (int h = 0; h < hosts_; ++h)
    runQuietly({ip, "netns", "del", hostNamespace(h)});
  hosts_ = 0;
  if (switchMade_)
    runQuietly({ip, "netns", "del", switchNamespace()});
  switchMade_ = false;
}

std::string TestNetwork::hostNamespace(int host) const
{
  return prefix_ + "-h" + std::to_string(host);
}

std::string TestNetwork::switchNamespace() const
{
  return prefix_ + "-sw";
}

std::string TestNetwork::address(int host) const
{
  return subnet_ + std::to_string(host + 1);
}

std::vector<std::string> TestNetwork::inHost(int host, const std::vector<std::string>& argv) const
{
  std::vector<std::string> wrapped{ip, "netns", "exec", hostNamespace(host)};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

std::vector<std::string> TestNetwork::inHostNamed(int host, const std::vector<std::string>& argv) const
{
  std::vector<std::string> wrapped = inHost(host, {"unshare", "--uts", "/bin/sh", "-c", "hostname \"$0\" && exec \"$@\"",
                                                   "host" + std::to_string(host)});
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

unsigned long long TestNetwork::bytesThrough(int host, const std::string& interface) const
{
  unsigned long long total = 0;
  for (const char* direction : {"rx_bytes", "tx_bytes"}) {
    const std::string command = std::string(ip) + " netns exec " + hostNamespace(host) +
                                " cat /sys/class/net/" + interface + "/statistics/" + direction;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
      throw std::runtime_error("test network: cannot run " + command);
    unsigned long long value = 0;
    const int read = std::fscanf(pipe, "%llu", &value);
    if (pclose(pipe) != 0 || read != 1)
      throw std::runtime_error("test network: failed: " + command);
    total += value;
  }
  return total;
}

void TestNetwork::setLinkUp(int host, bool up) const
{
  run({ip, "-n", switchNamespace(), "link", "set", "port" + std::to_string(host), up ? "up" : "down"});
}

bool TestNetwork::shape(int host, unsigned rateMbit, double delayMs) const
{
  const std::string rate = std::to_string(rateMbit) + "mbit";
  const std::string delay = std::to_string(delayMs) + "ms";
  bool delayed = true;
  // Out of the host on its own end, into it on the switch's end.  Delay
  // needs the kernel's netem scheduler, which not every kernel has.
  for (const auto& [ns, device] : {std::pair{hostNamespace(host), std::string("eth0")},
                                   std::pair{switchNamespace(), "port" + std::to_string(host)}}) {
    runQuietly({tc, "-n", ns, "qdisc", "del", "dev", device, "root"});
    try {
      run({tc, "-n", ns, "qdisc", "add", "dev", device, "root", "handle", "1:", "netem", "delay", delay}, true);
      run({tc, "-n", ns, "qdisc", "add", "dev", device, "parent", "1:", "handle", "2:", "tbf", "rate", rate,
           "burst", "256kb", "latency", "100ms"});
    }
    catch (const std::runtime_error&) {
      delayed = false;
      runQuietly({tc, "-n", ns, "qdisc", "del", "dev", device, "root"});
      run({tc, "-n", ns, "qdisc", "add", "dev", device, "root", "tbf", "rate", rate, "burst", "256kb", "latency",
           "100ms"});
    }
  }
  return delayed;
}
