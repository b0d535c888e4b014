// Data ports between processes: connections made from either end, every
// subscription type in both byte orders, refused profiles, and connections
// whose InPort stops or dies.
#include "ChildProcess.h"
#include "ConnectorProfiles.h"
#include "FrameworkDataPort.h"
#include "GridMapClient.h"

#include <rtm/dataports/CdrCodec.h>

#include <RTC.hh>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

namespace
{
  const char* timedLong = "IDL:RTC/TimedLong:1.0";

  // One dataport_host process and its component.
  struct Host
  {
    Host()
      : process(std::vector<std::string>{DATAPORT_HOST_PATH, "-o", "naming.enable:NO", "-o",
                                         "corba.endpoints:127.0.0.1:", "-o", "corba.call_timeout:1"})
    {
      std::optional<std::string> line = process.readLine(20s);
      if (!line || line->rfind("IOR:", 0) != 0)
        throw std::runtime_error("dataport_host did not start: " + process.errorOutput());
      CORBA::Object_var object = clientOrb()->string_to_object(line->c_str());
      rtc = RTC::RTObject::_narrow(object);
    }

    RTC::PortService_ptr port(const char* name) { return portNamed(rtc, name); }

    CORBA::ULong connectors(const char* name)
    {
      RTC::PortService_var p = port(name);
      RTC::ConnectorProfileList_var list = p->get_connector_profiles();
      return list->length();
    }

    // The next `count` values printed as arriving on "in"; fewer on timeout.
    std::vector<long> arrivals(std::size_t count, std::chrono::seconds timeout = 20s)
    {
      std::vector<long> values;
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (values.size() < count && std::chrono::steady_clock::now() < end) {
        std::optional<std::string> line = process.readLine(1s);
        if (line && line->rfind("in ", 0) == 0)
          values.push_back(std::stol(line->substr(3)));
      }
      return values;
    }

    ChildProcess process;
    RTC::RTObject_var rtc;
  };

  // Values of the writer's counter, in order and unswapped: small and rising.
  void expectCounter(const std::vector<long>& values, std::size_t count)
  {
    ASSERT_EQ(values.size(), count);
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_GT(values[i], 0);
      EXPECT_LT(values[i], 100000);  // a byte-swapped 1..65535 is far above this
      if (i > 0) {
        EXPECT_GT(values[i], values[i - 1]);
      }
    }
  }

  std::string hex(const std::string& bytes)
  {
    std::string out;
    char digits[3];
    for (unsigned char c : bytes) {
      std::snprintf(digits, sizeof digits, "%02x", c);
      out += digits;
    }
    return out;
  }

  TEST(DataPorts, EncodeTheBareBodyInTheAgreedByteOrder)
  {
    clientOrb();  // strings need the ORB's code sets
    RTC::TimedLong value;
    value.tm.sec = 1;
    value.tm.nsec = 2;
    value.data = -2;
    EXPECT_EQ(hex(RTC::encodeCdr(value, RTC::ByteOrder::Little)), "0100000002000000feffffff");
    EXPECT_EQ(hex(RTC::encodeCdr(value, RTC::ByteOrder::Big)), "0000000100000002fffffffe");
    RTC::TimedString text;
    text.tm.sec = 1;
    text.tm.nsec = 2;
    text.data = "ab";
    const std::string big = RTC::encodeCdr(text, RTC::ByteOrder::Big);
    EXPECT_EQ(hex(big), "000000010000000200000003616200");
    RTC::TimedString back;
    ASSERT_TRUE(RTC::decodeCdr(big, RTC::ByteOrder::Big, back));
    EXPECT_STREQ(back.data.in(), "ab");
    EXPECT_FALSE(RTC::decodeCdr(big.substr(0, 13), RTC::ByteOrder::Big, back));
  }

  // (subscription type, byte order, whether the InPort receives connect())
  class Subscriptions : public ::testing::TestWithParam<std::tuple<const char*, const char*, bool>>
  {
  };

  TEST_P(Subscriptions, DeliverTheWritersValuesInOrder)
  {
    const auto [subscription, endian, atInPort] = GetParam();
    Host writer;
    Host reader;
    RTC::PortService_var out = writer.port("out");
    RTC::PortService_var in = reader.port("in");
    RTC::ConnectorProfile profile =
        atInPort ? dataPortConnector(in, out, timedLong, {{"dataport.subscription_type", subscription},
                                                          {"dataport.serializer.cdr.endian", endian}})
                 : dataPortConnector(out, in, timedLong, {{"dataport.subscription_type", subscription},
                                                          {"dataport.serializer.cdr.endian", endian},
                                                          {"dataport.publisher.push_rate", "100"}});
    RTC::PortService_var target = atInPort ? in : out;
    ASSERT_EQ(target->connect(profile), RTC::RTC_OK);
    expectCounter(reader.arrivals(10), 10);
    EXPECT_EQ(writer.connectors("out"), 1u);
    EXPECT_EQ(reader.connectors("in"), 1u);

    // Disconnecting from the other end stops the flow on both.
    RTC::PortService_var other = atInPort ? out : in;
    EXPECT_EQ(other->disconnect(profile.connector_id), RTC::RTC_OK);
    EXPECT_EQ(writer.connectors("out"), 0u);
    EXPECT_EQ(reader.connectors("in"), 0u);
  }

  INSTANTIATE_TEST_SUITE_P(DataPorts, Subscriptions,
                           ::testing::Values(std::make_tuple("flush", "little", false),
                                             std::make_tuple("flush", "big", true),
                                             std::make_tuple("new", "little", true),
                                             std::make_tuple("new", "big", false),
                                             std::make_tuple("periodic", "big", false),
                                             std::make_tuple("periodic", "little", true),
                                             // no byte order given: little, as peers expect
                                             std::make_tuple("new", "", false)));

  TEST(DataPorts, ProfilesNotServedAreRefusedAndLeaveNothingBehind)
  {
    Host one;
    Host two;
    RTC::PortService_var out = one.port("out");
    RTC::PortService_var in = two.port("in");
    RTC::PortService_var text = two.port("text");
    RTC::PortService_var otherOut = two.port("out");
    const std::vector<std::pair<std::string, std::string>> badSettings[] = {
        {{"dataport.dataflow_type", "pull"}},
        {{"dataport.interface_type", "shared_memory"}},
        {{"dataport.subscription_type", "sometimes"}},
        {{"dataport.serializer.cdr.endian", "middle"}},
        {{"dataport.publisher.push_rate", "fast"}, {"dataport.subscription_type", "periodic"}},
        {{"dataport.buffer.length", "0"}},
        {{"dataport.marshaling_type", "json"}},
        {{"dataport.data_type", "IDL:RTC/TimedString:1.0"}}};
    for (const auto& settings : badSettings) {
      for (bool atInPort : {false, true}) {
        RTC::ConnectorProfile profile = dataPortConnector(out, in, timedLong, settings);
        RTC::PortService_var target = atInPort ? in : out;
        EXPECT_NE(target->connect(profile), RTC::RTC_OK) << settings.front().first << "=" << settings.front().second;
      }
    }
    // Another data type, and two OutPorts with no InPort to push to.
    RTC::ConnectorProfile mismatch = dataPortConnector(out, text, timedLong);
    EXPECT_EQ(out->connect(mismatch), RTC::RTC_ERROR);
    RTC::ConnectorProfile noInPort = dataPortConnector(out, otherOut, timedLong);
    EXPECT_EQ(out->connect(noInPort), RTC::BAD_PARAMETER);

    for (Host* host : {&one, &two})
      for (const char* name : {"out", "in", "text"})
        EXPECT_EQ(host->connectors(name), 0u) << name;
    // Nothing arrived through a connection that was refused.
    EXPECT_TRUE(two.arrivals(1, 1s).empty());
    // And the ports still connect.
    RTC::ConnectorProfile good = dataPortConnector(out, in, timedLong);
    ASSERT_EQ(out->connect(good), RTC::RTC_OK);
    expectCounter(two.arrivals(3), 3);
  }

  // A framework OutPort, connected from either end: it adds the byte order
  // key when connect() reaches it first and pushes in the order agreed.
  TEST(DataPorts, FrameworkOutPortPushesToOurInPortFromEitherEnd)
  {
    Host reader;
    RTC::PortService_var in = reader.port("in");
    for (const auto& [frameworkFirst, endian] : {std::make_pair(true, ""), std::make_pair(false, "big,little")}) {
      SCOPED_TRACE(frameworkFirst ? "framework OutPort first" : "our InPort first");
      FrameworkDataPort peer(FrameworkDataPort::Direction::Out, timedLong);
      RTC::ConnectorProfile profile =
          frameworkFirst ? dataPortConnector(peer.ref(), in, timedLong)
                         : dataPortConnector(in, peer.ref(), timedLong, {{"dataport.serializer.cdr.endian", endian}});
      RTC::PortService_var target = RTC::PortService::_duplicate(frameworkFirst ? peer.ref() : in.in());
      ASSERT_EQ(target->connect(profile), RTC::RTC_OK);
      for (CORBA::Long value : {1, 2, 3}) {
        RTC::TimedLong sent{};
        sent.data = value;
        EXPECT_EQ(peer.write([&](RTC::ByteOrder order) { return RTC::encodeCdr(sent, order); }), 1);
      }
      expectCounter(reader.arrivals(3), 3);
      EXPECT_EQ(reader.connectors("in"), 1u);
      EXPECT_EQ(in->disconnect(profile.connector_id), RTC::RTC_OK);
      EXPECT_EQ(reader.connectors("in"), 0u);
      EXPECT_FALSE(peer.connector(profile.connector_id.in()));
    }
  }

  TEST(DataPorts, StoppedAndDeadInPortsDoNotHoldUpTheOthers)
  {
    Host writer;
    Host healthy;
    Host stopped;
    Host dead;
    RTC::PortService_var out = writer.port("out");
    for (Host* reader : {&healthy, &stopped, &dead}) {
      RTC::PortService_var in = reader->port("in");
      RTC::ConnectorProfile profile = dataPortConnector(out, in, timedLong, {{"dataport.subscription_type", "flush"}});
      ASSERT_EQ(out->connect(profile), RTC::RTC_OK);
    }
    expectCounter(stopped.arrivals(2), 2);
    stopped.process.signal(SIGSTOP);
    ASSERT_TRUE(stopped.process.waitUntilStopped(10s));
    dead.process.stop(SIGKILL, 10s);

    // The healthy reader keeps receiving every value, at the writer's pace,
    // while the other two connections time out and are dropped.
    const auto start = std::chrono::steady_clock::now();
    std::vector<long> values = healthy.arrivals(100, 30s);
    expectCounter(values, 100);
    for (std::size_t i = 1; i < values.size(); ++i)
      EXPECT_EQ(values[i], values[i - 1] + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (writer.connectors("out") > 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(100ms);
    EXPECT_EQ(writer.connectors("out"), 1u);
    stopped.process.signal(SIGCONT);
  }
}
