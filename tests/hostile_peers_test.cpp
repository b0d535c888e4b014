// What KorventPV does with peers that send nonsense, never answer, are gone,
// or call back into it, and what the ORB limits do with hostile clients.
// Every case must end in bounded time, leave no connector behind, and leave
// the stored map unchanged and served.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "RawGiop.h"
#include "SilentListener.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <future>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
  // Low, so that each unanswered call costs little; the bound below only
  // proves "not forever": a few calls' worth plus scheduling slack.
  constexpr auto callTimeout = 1s;
  constexpr auto bounded = callTimeout * 3 + 2s;

  std::chrono::milliseconds since(Clock::time_point start)
  {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }

  RTC::PortService_ptr portAt(const std::string& url)
  {
    // Unchecked: a checked narrow would itself call the object.
    CORBA::Object_var object = clientOrb()->string_to_object(url.c_str());
    return RTC::PortService::_unchecked_narrow(object);
  }

  // A reference to nothing: an address where no process listens.
  RTC::PortService_ptr unreachablePort(int n = 0)
  {
    return portAt("corbaloc::127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/nothing" + std::to_string(n));
  }

  // hostile_peer in one of its modes, with the references it printed.
  struct Peer
  {
    Peer(const std::vector<std::string>& args, int references)
    {
      std::vector<std::string> argv{HOSTILE_PEER_PATH};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.insert(argv.end(), {"-ORBendPoint", "giop:tcp:127.0.0.1:"});
      process = std::make_unique<ChildProcess>(argv);
      for (int i = 0; i < references; ++i) {
        std::optional<std::string> line = process->readLine(20s);
        if (!line)
          throw std::runtime_error("hostile_peer printed no reference: " + process->errorOutput());
        ports.push_back(portAt(*line));
      }
    }
    // Lines "notify_connect N" read until none came for `quiet`, or until
    // `limit`; returns the last N seen and whether it went quiet.
    std::pair<int, bool> notificationsUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
    {
      const Clock::time_point end = Clock::now() + limit;
      while (Clock::now() < end) {
        std::optional<std::string> line = process->readLine(quiet);
        if (!line)
          return {notified, true};
        if (line->rfind("notify_connect ", 0) == 0)
          notified = std::atoi(line->c_str() + 15);
      }
      return {notified, false};
    }

    std::unique_ptr<ChildProcess> process;
    std::vector<RTC::PortService_var> ports;
    int notified = 0;
  };

  RTC::ConnectorProfile profileOf(std::initializer_list<RTC::PortService_ptr> ports, const char* id = "")
  {
    RTC::ConnectorProfile profile;
    profile.name = "hostile";
    profile.connector_id = id;
    profile.ports.length(static_cast<CORBA::ULong>(ports.size()));
    CORBA::ULong i = 0;
    for (RTC::PortService_ptr p : ports)
      profile.ports[i++] = RTC::PortService::_duplicate(p);
    return profile;
  }

  void addProperty(RTC::ConnectorProfile& profile, const std::string& name, const CORBA::Any& value)
  {
    CORBA::ULong at = profile.properties.length();
    profile.properties.length(at + 1);
    profile.properties[at].name = name.c_str();
    profile.properties[at].value = value;
  }

  CORBA::Any text(const std::string& value)
  {
    CORBA::Any any;
    any <<= value.c_str();
    return any;
  }

  class HostilePeers : public ::testing::Test
  {
  protected:
    void SetUp() override { start({}); }

    // A later -o wins: `extraArgs` may override the call timeout.
    void start(const std::vector<std::string>& extraArgs)
    {
      std::vector<std::string> args{"-o", "corba.call_timeout:" + std::to_string(callTimeout.count())};
      args.insert(args.end(), extraArgs.begin(), extraArgs.end());
      korvent_ = std::make_unique<RunningKorvent>(args);
      // Both operations answer false, as the service always has.
      korvent_->service->setGridMap(-2, 3, makeMap(map_));
    }

    void TearDown() override
    {
      expectIntact();
      std::optional<int> status = korvent_->process->stop(SIGTERM, 20s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << korvent_->process->errorOutput();
    }

    // No connector on KorventPV, and the map as it was stored, still served.
    void expectIntact()
    {
      EXPECT_EQ(0u, korvent_->connectorCount());
      RTC::TimedOctetSeq got;
      CORBA::Short width = 0, height = 0;
      korvent_->service->getGridMap(width, height, got);
      EXPECT_EQ(map_, octetsOf(got));
      EXPECT_EQ(-2, width);
      EXPECT_EQ(3, height);
    }

    // Calls `call` and checks it ended within the bound with `expected`.
    void expectBounded(RTC::ReturnCode_t expected, const std::function<RTC::ReturnCode_t()>& call,
                       const std::string& what)
    {
      const Clock::time_point start = Clock::now();
      RTC::ReturnCode_t result = RTC::RTC_OK;
      try {
        result = call();
      }
      catch (const CORBA::Exception& e) {
        ADD_FAILURE() << what << ": exception " << e._name();
        return;
      }
      EXPECT_EQ(expected, result) << what;
      EXPECT_LT(since(start), bounded) << what;
      EXPECT_EQ(0u, korvent_->connectorCount()) << what;
    }

    RTC::PortService_ptr provider() { return korvent_->port.in(); }

    const std::vector<CORBA::Octet> map_{1, 2, 3, 4, 5, 6};
    std::unique_ptr<RunningKorvent> korvent_;
  };
}

TEST_F(HostilePeers, ProfilesOutsideTheLimitsAreRefused)
{
  RTC::PortService_var other = unreachablePort();
  std::vector<std::pair<std::string, RTC::ConnectorProfile>> cases;
  auto add = [&](const std::string& what, RTC::ConnectorProfile profile) { cases.emplace_back(what, profile); };

  add("no ports", profileOf({}));
  add("nil port", profileOf({provider(), RTC::PortService::_nil()}));
  add("port listed twice", profileOf({provider(), other.in(), other.in()}));
  add("provider listed twice", profileOf({provider(), other.in(), provider()}));
  add("called port absent", profileOf({other.in()}));
  {
    RTC::ConnectorProfile many = profileOf({provider()});
    many.ports.length(33);
    for (CORBA::ULong i = 1; i < 33; ++i)
      many.ports[i] = unreachablePort(static_cast<int>(i));
    add("33 ports", many);
  }
  {
    RTC::ConnectorProfile p = profileOf({provider(), other.in()});
    p.name = std::string(257, 'n').c_str();
    add("name of 257 characters", p);
  }
  add("id of 257 characters", profileOf({provider(), other.in()}, std::string(257, 'i').c_str()));
  {
    RTC::ConnectorProfile p = profileOf({provider(), other.in()});
    for (int i = 0; i < 129; ++i)
      addProperty(p, "key" + std::to_string(i), text("v"));
    add("129 properties", p);
  }
  {
    RTC::ConnectorProfile p = profileOf({provider(), other.in()});
    addProperty(p, std::string(257, 'k'), text("v"));
    add("property name of 257 characters", p);
  }
  {
    // Nested values count by their size like any other.
    RTC::ConnectorProfile p = profileOf({provider(), other.in()});
    CORBA::Any nested;
    SDOPackage::NVList list;
    list.length(200);
    for (CORBA::ULong i = 0; i < list.length(); ++i) {
      list[i].name = "inner";
      list[i].value <<= std::string(100, 'v').c_str();
    }
    nested <<= list;
    addProperty(p, "nested", nested);
    add("a sequence as property value over 16 KiB", p);
  }
  {
    RTC::ConnectorProfile p = profileOf({provider(), other.in()});
    addProperty(p, "large", text(std::string(17 * 1024, 'x')));
    add("a profile over 16 KiB", p);
  }

  for (auto& [what, profile] : cases) {
    RTC::ConnectorProfile copy = profile;
    expectBounded(RTC::BAD_PARAMETER, [&] { return provider()->connect(copy); }, "connect, " + what);
    copy = profile;
    if (std::string(copy.connector_id).empty())
      copy.connector_id = "fixed-id";
    expectBounded(RTC::BAD_PARAMETER, [&] { return provider()->notify_connect(copy); }, "notify_connect, " + what);
  }
  // Within the limits the same kind of profile is taken: the checks above
  // refused what they were meant to, not everything.  Values of any kind
  // are taken, as framework ports store references among them.
  RTC::ConnectorProfile fine = profileOf({provider()});
  for (int i = 0; i < 100; ++i)
    addProperty(fine, "key" + std::to_string(i), text("value"));
  CORBA::Any number, reference, nested, wide;
  number <<= CORBA::Double(2.5);
  addProperty(fine, "number", number);
  reference <<= korvent_->rtc.in();
  addProperty(fine, "an object reference", reference);
  SDOPackage::NVList inner;
  inner.length(1);
  inner[0].name = "inner";
  inner[0].value <<= "value";
  nested <<= inner;
  addProperty(fine, "a sequence", nested);
  wide <<= L"wide text";
  addProperty(fine, "wide text", wide);
  fine.name = std::string(256, 'n').c_str();
  ASSERT_EQ(RTC::RTC_OK, provider()->connect(fine));
  EXPECT_EQ(1u, korvent_->connectorCount());
  EXPECT_EQ(RTC::RTC_OK, provider()->disconnect(fine.connector_id));
}

TEST_F(HostilePeers, UnusablePeersAreRefusedWithinTheCallTimeout)
{
  SilentListener silent;
  Peer dead({"accept", "1"}, 1);
  ASSERT_TRUE(dead.process->stop(SIGKILL, 10s));
  Peer hanging({"hang"}, 1);

  const std::vector<std::pair<std::string, RTC::PortService_var>> peers{
    {"not a port", RTC::PortService::_unchecked_narrow(korvent_->rtc.in())},
    {"dead process", dead.ports[0]},
    {"nobody listening", unreachablePort()},
    {"listener that never answers", portAt("corbaloc::127.0.0.1:" + std::to_string(silent.port()) + "/silent")},
    {"servant that never returns", hanging.ports[0]}};
  for (const auto& [what, peer] : peers) {
    RTC::ConnectorProfile first = profileOf({peer.in(), provider()});
    expectBounded(RTC::BAD_PARAMETER, [&] { return provider()->connect(first); }, what + " first");
    RTC::ConnectorProfile second = profileOf({provider(), peer.in()});
    expectBounded(RTC::RTC_ERROR, [&] { return provider()->connect(second); }, what + " second");
    expectIntact();
  }
}

TEST_F(HostilePeers, ServiceAnswersWhileAPeerCallHangs)
{
  // A long call timeout, so that the hanging call is surely still under
  // way while the map is set and read; killing the peer ends it.
  korvent_->process->stop(SIGTERM, 20s);
  start({"-o", "corba.call_timeout:60"});
  Peer hanging({"hang"}, 1);
  RTC::ConnectorProfile profile = profileOf({provider(), hanging.ports[0].in()});
  std::future<RTC::ReturnCode_t> connecting =
      std::async(std::launch::async, [&] { return provider()->connect(profile); });
  ASSERT_TRUE(hanging.process->readLine(20s)) << "the peer was never called";

  const std::vector<CORBA::Octet> other{9, 8, 7};
  korvent_->service->setGridMap(3, 1, makeMap(other));
  RTC::TimedOctetSeq got;
  CORBA::Short width = 0, height = 0;
  korvent_->service->getGridMap(width, height, got);
  EXPECT_EQ(other, octetsOf(got));
  EXPECT_EQ(0u, korvent_->connectorCount());
  EXPECT_EQ(std::future_status::timeout, connecting.wait_for(0s)) << "the hanging call ended early";
  korvent_->service->setGridMap(-2, 3, makeMap(map_));

  hanging.process->stop(SIGKILL, 10s);
  ASSERT_EQ(std::future_status::ready, connecting.wait_for(bounded));
  EXPECT_EQ(RTC::RTC_ERROR, connecting.get());
}

TEST_F(HostilePeers, IdsAndCountsAreEnforced)
{
  Peer peers({"accept", "65"}, 65);
  RTC::ConnectorProfile named = profileOf({provider(), peers.ports[0].in()}, "chosen-id");
  ASSERT_EQ(RTC::RTC_OK, provider()->connect(named));
  EXPECT_STREQ("chosen-id", named.connector_id);
  RTC::ConnectorProfile again = profileOf({provider(), peers.ports[1].in()}, "chosen-id");
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, provider()->connect(again));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, provider()->notify_connect(again));
  EXPECT_EQ(1u, korvent_->connectorCount());

  for (int i = 1; i < 64; ++i) {
    RTC::ConnectorProfile profile = profileOf({provider(), peers.ports[i].in()});
    ASSERT_EQ(RTC::RTC_OK, provider()->connect(profile)) << "connector " << i + 1;
  }
  EXPECT_EQ(64u, korvent_->connectorCount());
  RTC::ConnectorProfile extra = profileOf({provider(), peers.ports[64].in()});
  EXPECT_EQ(RTC::OUT_OF_RESOURCES, provider()->connect(extra));
  extra.connector_id = "extra-id";
  EXPECT_EQ(RTC::OUT_OF_RESOURCES, provider()->notify_connect(extra));
  EXPECT_EQ(64u, korvent_->connectorCount());

  for (const std::string& id : {std::string("no-such-id"), std::string(), std::string(100000, 'x')}) {
    EXPECT_EQ(RTC::BAD_PARAMETER, provider()->disconnect(id.c_str())) << id.size();
    EXPECT_EQ(RTC::BAD_PARAMETER, provider()->notify_disconnect(id.c_str())) << id.size();
  }
  EXPECT_EQ(64u, korvent_->connectorCount());
  EXPECT_EQ(RTC::RTC_OK, provider()->disconnect_all());
}

TEST_F(HostilePeers, PingPongPeersAreRefusedAndStop)
{
  // A peer that hands the profile straight back to KorventPV.  (One that
  // does so through notify_connect while listed before KorventPV is simply
  // the next link of a chain, and is not tried here.)
  const std::vector<std::pair<const char*, bool>> cases{
    {"pingpong", true}, {"pingpong-connect", true}, {"pingpong-connect", false}};
  for (const auto& [mode, providerFirst] : cases) {
    const std::string what = std::string(mode) + (providerFirst ? ", provider first" : ", peer first");
    Peer peer({mode}, 1);
    RTC::ConnectorProfile profile = providerFirst ? profileOf({provider(), peer.ports[0].in()})
                                                  : profileOf({peer.ports[0].in(), provider()});
    const Clock::time_point start = Clock::now();
    RTC::ReturnCode_t result = provider()->connect(profile);
    EXPECT_LT(since(start), bounded) << what;
    EXPECT_NE(RTC::RTC_OK, result) << what;
    // The exchange must die out, not go on behind the caller's back.
    const auto [calls, quiet] = peer.notificationsUntilQuiet(3s, 20s);
    EXPECT_TRUE(quiet) << what << ": still calling after " << calls << " notify_connect calls";
    std::cout << what << ": " << calls << " notify_connect calls, result " << result << std::endl;
    peer.process->stop(SIGKILL, 10s);
    expectIntact();
  }
}

TEST_F(HostilePeers, ConnectorsOfGonePeersAreDropped)
{
  // Asking for the profiles drops connectors whose peer is gone.
  {
    Peer peer({"accept", "1"}, 1);
    RTC::ConnectorProfile profile = profileOf({provider(), peer.ports[0].in()});
    ASSERT_EQ(RTC::RTC_OK, provider()->connect(profile));
    ASSERT_TRUE(peer.process->stop(SIGKILL, 10s));
    EXPECT_TRUE(waitFor([&] { return korvent_->connectorCount() == 0; }, 2s + bounded));
  }
  // With nobody asking (one connector is looked up by id, which drops
  // nothing), the periodic sweep drops it too.
  {
    Peer peer({"accept", "1"}, 1);
    RTC::ConnectorProfile profile = profileOf({provider(), peer.ports[0].in()});
    ASSERT_EQ(RTC::RTC_OK, provider()->connect(profile));
    const std::string id = static_cast<const char*>(profile.connector_id);
    ASSERT_TRUE(peer.process->stop(SIGKILL, 10s));
    EXPECT_TRUE(waitFor([&] {
      RTC::ConnectorProfile_var found = provider()->get_connector_profile(id.c_str());
      return std::string(found->connector_id).empty();
    }, 5s + bounded));
  }
}

TEST_F(HostilePeers, StoppedPeerIsSlowNotGone)
{
  Peer peer({"accept", "1"}, 1);
  RTC::ConnectorProfile profile = profileOf({provider(), peer.ports[0].in()});
  ASSERT_EQ(RTC::RTC_OK, provider()->connect(profile));
  peer.process->signal(SIGSTOP);
  // Long enough for both the on-request check (every 2 s) and the periodic
  // sweep (every 5 s) to have looked at the stopped peer.
  const Clock::time_point start = Clock::now();
  while (since(start) < 7s) {
    const Clock::time_point asked = Clock::now();
    korvent_->connectorCount();
    EXPECT_LT(since(asked), bounded);
  }
  peer.process->signal(SIGCONT);
  EXPECT_EQ(1u, korvent_->connectorCount()) << "a stopped (not dead) peer lost its connector";
  provider()->disconnect_all();
}

TEST_F(HostilePeers, OrbClosesIncompleteAndIdleConnections)
{
  korvent_->process->stop(SIGTERM, 20s);
  start({"-o", "corba.request_timeout:2", "-o", "corba.idle_timeout:2"});
  const IiopAddress address = iiopAddressOf(korvent_->serviceIor);

  // A request that declares 1 MiB and sends 1 KiB of it.
  int partial = connectTcp(address.host, address.port);
  ASSERT_GE(partial, 0);
  ASSERT_TRUE(sendAll(partial, partialSetGridMapRequest(address.objectKey, 1, 1u << 20, 1024)));
  // A connection that never sends anything.
  int idle = connectTcp(address.host, address.port);
  ASSERT_GE(idle, 0);

  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(closedByPeer(partial, 2s * 3 + 2s)) << "an incomplete request kept its connection";
  EXPECT_TRUE(closedByPeer(idle, 2s * 3 + 2s)) << "an idle connection was kept";
  std::cout << "incomplete and idle connections closed after " << since(start).count() << " ms" << std::endl;
  close(partial);
  close(idle);
}

TEST_F(HostilePeers, ProfilesTheOrbCannotReadCostOnlyTheirRequest)
{
  CORBA::String_var ior = clientOrb()->object_to_string(provider());
  const IiopAddress address = iiopAddressOf(ior.in());
  // Found by fuzzing omniORB's unmarshalling of profiles: a fixed-point
  // value of more than 31 digits, which it asserts against, and a TypeCode
  // that makes it ask for an impossible buffer.  That request fails with
  // bad_alloc, but the sanitizers' allocators abort the process at such a
  // request instead, so under a sanitizer only the first is sent.
  std::vector<const char*> names{"fixed_of_too_many_digits.cdr"};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  names.push_back("huge_typecode.cdr");
#endif
  for (const char* name : names) {
    const std::string profile = fileContent(std::string(ORB_FINDINGS_DIR "/") + name);
    int fd = connectTcp(address.host, address.port);
    ASSERT_GE(fd, 0);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(sendAll(fd, connectRequest(address.objectKey, 1, profile)));
    EXPECT_TRUE(waitFor([&] { return pendingBytes(fd) > 0 || closedByPeer(fd, 100ms); }, 20s)) << name;
    std::cout << name << ": answered after " << since(start).count() << " ms" << std::endl;
    close(fd);
    ASSERT_TRUE(korvent_->process->running()) << name << ": " << korvent_->process->errorOutput();
  }
}

TEST_F(HostilePeers, ConnectionsBeyondTheLimitAreClosed)
{
  korvent_->process->stop(SIGTERM, 20s);
  constexpr int limit = 6;
  start({"-o", "corba.max_connections:" + std::to_string(limit)});
  const IiopAddress address = iiopAddressOf(korvent_->serviceIor);

  // All at once: never more than the limit are kept, and the burst does not
  // lock the first comers out (this test's own ORB holds at most a couple
  // of the places).
  std::vector<int> sockets;
  for (int i = 0; i < limit + 4; ++i) {
    int fd = connectTcp(address.host, address.port);
    ASSERT_GE(fd, 0);
    sockets.push_back(fd);
  }
  int kept = 0;
  for (int fd : sockets)
    kept += closedByPeer(fd, 1s) ? 0 : 1;
  std::cout << "burst of " << sockets.size() << ": " << kept << " kept" << std::endl;
  EXPECT_LE(kept, limit);
  EXPECT_GE(kept, limit - 2);
  for (int fd : sockets)
    close(fd);

  // Once the burst's places are free again (a probe connection is kept),
  // one at a time, each given time to be accepted or refused before the
  // next: this test's own ORB holds at most a couple of connections, so the
  // first few are within the limit whatever else is connected.
  sockets.clear();
  ASSERT_TRUE(waitFor([&] {
    int probe = connectTcp(address.host, address.port);
    const bool kept = probe >= 0 && !closedByPeer(probe, 500ms);
    close(probe);
    return kept;
  }, 20s));
  std::vector<bool> closed;
  for (int i = 0; i < limit + 4; ++i) {
    int fd = connectTcp(address.host, address.port);
    ASSERT_GE(fd, 0);
    sockets.push_back(fd);
    // Those beyond the limit are given longer: under the sanitizers the ORB
    // may take a while to accept, and so to refuse.
    closed.push_back(closedByPeer(fd, i < limit ? 1s : 10s));
  }
  std::string pattern;
  for (bool c : closed)
    pattern += c ? 'x' : 'o';
  std::cout << "raw connections kept (o) and closed (x): " << pattern << std::endl;
  EXPECT_EQ(0u, pattern.substr(0, limit - 2).find_first_of('x') + 1) << pattern;
  EXPECT_EQ(std::string(4, 'x'), pattern.substr(limit)) << pattern;
  for (int fd : sockets)
    close(fd);

  // Freed places are taken again.
  expectIntact();
}

TEST_F(HostilePeers, ExecutionContextRejectsBadRatesAndKeepsForeignComponentsApart)
{
  RTC::ExecutionContextList_var contexts = korvent_->rtc->get_owned_contexts();
  RTC::ExecutionContextService_var ec = RTC::ExecutionContextService::_narrow(contexts[0]);
  const double before = ec->get_rate();
  for (double rate : {std::nan(""), std::numeric_limits<double>::infinity(),
                      -std::numeric_limits<double>::infinity(), 0.0, -1.0, 100000.5, 1e300})
    EXPECT_EQ(RTC::BAD_PARAMETER, ec->set_rate(rate)) << rate;
  EXPECT_EQ(before, ec->get_rate());

  std::vector<std::unique_ptr<ChildProcess>> hosts;
  std::vector<RTC::RTObject_var> foreign;
  for (int i = 0; i < 2; ++i) {
    hosts.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
      "/usr/bin/env", "-C", "/", RECORDER_HOST_PATH, "-o", "naming.enable:NO",
      "-o", "exec_cxt.transition_timeout:5", "-o", "corba.endpoints:127.0.0.1:"}));
    for (;;) {
      std::optional<std::string> line = hosts.back()->readLine(20s);
      ASSERT_TRUE(line) << hosts.back()->errorOutput();
      if (line->rfind("IOR:", 0) == 0) {
        CORBA::Object_var object = clientOrb()->string_to_object(line->c_str());
        foreign.push_back(RTC::RTObject::_narrow(object));
        break;
      }
    }
  }
  ASSERT_EQ(RTC::RTC_OK, ec->add_component(foreign[0]));
  ASSERT_EQ(RTC::RTC_OK, ec->add_component(foreign[1]));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->add_component(foreign[0]));
  EXPECT_EQ(RTC::RTC_OK, ec->activate_component(foreign[0]));
  EXPECT_EQ(RTC::ACTIVE_STATE, ec->get_component_state(foreign[0]));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(foreign[1]));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(korvent_->rtc));
  EXPECT_EQ(RTC::RTC_OK, ec->activate_component(foreign[1]));
  EXPECT_EQ(RTC::RTC_OK, ec->deactivate_component(foreign[0]));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(foreign[0]));
  EXPECT_EQ(RTC::ACTIVE_STATE, ec->get_component_state(foreign[1]));
  EXPECT_EQ(RTC::RTC_OK, ec->deactivate_component(foreign[1]));
  EXPECT_EQ(RTC::RTC_OK, ec->remove_component(foreign[0]));
  EXPECT_EQ(RTC::RTC_OK, ec->remove_component(foreign[1]));
  EXPECT_EQ(RTC::BAD_PARAMETER, ec->remove_component(foreign[1]));
  for (auto& host : hosts)
    host->stop(SIGTERM, 20s);
}
