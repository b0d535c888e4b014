// The request watch in a server of the test's own, whose servant takes
// longer than the grace once its arguments have arrived: the time it works
// is not the peer's, and the write it acknowledges must not be reported as
// failed.
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "service/KorventSVC_impl.h"

#include <rtm/orb/RequestWatch.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace
{
  class SlowKorvent : public KorventSVC_impl
  {
  public:
    void storeGridMap(CORBA::Short width, CORBA::Short height, std::unique_ptr<std::string> octets) override
    {
      KorventSVC_impl::storeGridMap(width, height, std::move(octets));
      std::this_thread::sleep_for(2s);  // four times the grace
      ++stores;
    }
    std::atomic<int> stores{0};
  };
}

TEST(RequestWatch, ServantTimeAfterTheLastFragmentIsNotThePeers)
{
  // On the loopback only, before the POA lets calls in, as the manager does.
  std::vector<std::string> options = largeMessageOrbOptions();
  options.insert(options.begin(), "request-watch-test");
  options.insert(options.end(), {"-ORBendPoint", "giop:tcp:127.0.0.1:"});
  std::vector<char*> argv;
  for (std::string& o : options)
    argv.push_back(o.data());
  int argc = static_cast<int>(argv.size());
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv.data());
  RTC::RequestWatch watch(RTC::RequestLimits{16384, 500ms, 256u << 20});
  CORBA::Object_var rootObject = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(rootObject);
  PortableServer::POAManager_var manager = poa->the_POAManager();
  manager->activate();
  PortableServer::Servant_var<SlowKorvent> servant(new SlowKorvent);
  PortableServer::ObjectId_var id = poa->activate_object(servant);
  CORBA::Object_var object = poa->id_to_reference(id);
  const std::string ior = CORBA::String_var(orb->object_to_string(object)).in();

  // The attacker's ORB sends a map this size in fragments.
  ChildProcess writer({ATTACKER_PATH, "write", ior, "1", std::to_string(16u << 20), "1"});
  std::optional<std::string> line;
  for (auto end = std::chrono::steady_clock::now() + 60s; !line && std::chrono::steady_clock::now() < end;)
    line = writer.readLine(100ms);
  ASSERT_TRUE(line) << writer.errorOutput();
  EXPECT_EQ(0u, line->find("wrote 1 calls, 0 failed")) << *line;
  EXPECT_EQ(1, servant->stores.load());
  // Wait for the ORB's threads before the process's statics go away.
  orb->shutdown(true);
  orb->destroy();
}
