#ifndef TESTS_SUPPORT_TESTNETWORK_H
#define TESTS_SUPPORT_TESTNETWORK_H

#include <string>
#include <vector>

// A small network of a test's own: a switch (a bridge in a network
// namespace of its own) and a number of hosts, each a namespace with one
// link to the switch and an address of a private subnet that exists only
// inside these namespaces.  Everything is removed again by the destructor,
// also when a test fails.  Needs root and iproute2.
class TestNetwork
{
public:
  explicit TestNetwork(int hosts);
  ~TestNetwork();
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // Whether this process may build one (root, `ip` present).
  static bool available();

  std::string address(int host) const;  // IPv4, dotted
  // `argv` run inside host's namespace.
  std::vector<std::string> inHost(int host, const std::vector<std::string>& argv) const;
  // The same with a host name of its own ("host<N>"), as a separate
  // computer has: same-host shortcuts (the ORB's local socket) stay out.
  std::vector<std::string> inHostNamed(int host, const std::vector<std::string>& argv) const;

  // Octets the host has sent and received so far on its link, or on
  // another of its interfaces ("lo").
  unsigned long long bytesThrough(int host, const std::string& interface = "eth0") const;
  // Limits the host's link, both ways, to `rateMbit` with `delayMs` of
  // delay; false when this kernel cannot delay (no netem), and the link
  // is only rate-limited.
  bool shape(int host, unsigned rateMbit, double delayMs) const;
  // Takes the switch's end of the host's link down (every packet either
  // way is lost, while neither host sees its own link go) or up again.
  void setLinkUp(int host, bool up) const;

private:
  void tearDown();
  std::string hostNamespace(int host) const;
  std::string switchNamespace() const;

  std::string prefix_;     // unique per test process
  std::string subnet_;     // "10.213.N."
  int hosts_ = 0;
  bool switchMade_ = false;
};

#endif // TESTS_SUPPORT_TESTNETWORK_H
