// KorventComp's "mapChanged" port: one event per stored map, the latest
// handed to a late subscriber at once, versions kept across restarts.
#include "ChangeListener.h"
#include "ChildProcess.h"
#include "ConnectorProfiles.h"
#include "FrameworkDataPort.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "TemporaryFolder.h"

#include "mapio/Checksum.h"

#include <rtm/dataports/CdrCodec.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  const char* ulongSeq = "IDL:RTC/TimedULongSeq:1.0";

  void store(RunningKorvent& korvent, short width, short height, const std::string& cells)
  {
    korvent.service->setGridMap(width, height, makeMap({cells.begin(), cells.end()}));  // answers false by convention
  }

  void expectEvent(const RTC::TimedULongSeq& event, CORBA::ULong version, CORBA::ULong width, CORBA::ULong height,
                   const std::string& cells)
  {
    ASSERT_EQ(event.data.length(), 9u);
    EXPECT_EQ(event.data[0], version);
    EXPECT_EQ(event.data[1], width);
    EXPECT_EQ(event.data[2], height);
    EXPECT_EQ(event.data[3], cells.size());
    EXPECT_EQ(event.data[4], mapio::crc32Of(cells.data(), cells.size()));
    EXPECT_EQ(event.data[5], 0u);
    EXPECT_EQ(event.data[6], 0u);
    EXPECT_EQ(event.data[7], width);
    EXPECT_EQ(event.data[8], height);
  }

  TEST(MapChanged, LateSubscriberGetsTheCurrentEventAtOnceThenEachNewMap)
  {
    RunningKorvent korvent;
    store(korvent, 3, 2, "abcdef");
    store(korvent, 4, 1, "wxyz");
    const auto before = std::chrono::system_clock::now() - 60s;

    ChangeListener listener(korvent.rtc);
    ASSERT_EQ(listener.connected(), RTC::RTC_OK);
    const RTC::TimedULongSeq latest = listener.next();
    expectEvent(latest, 2, 4, 1, "wxyz");
    EXPECT_GT(static_cast<std::int64_t>(latest.tm.sec), std::chrono::system_clock::to_time_t(before));

    store(korvent, -2, 3, std::string("\0\1\2", 3));  // sizes travel as their 16-bit pattern
    expectEvent(listener.next(), 3, 0xfffe, 3, std::string("\0\1\2", 3));

    RTC::PortService_var changes = portNamed(korvent.rtc, "mapChanged");
    RTC::PortProfile_var profile = changes->get_port_profile();
    bool typed = false;
    for (CORBA::ULong i = 0; i < profile->properties.length(); ++i) {
      const char* value = nullptr;
      if (std::string(profile->properties[i].name.in()) == "dataport.data_type" && (profile->properties[i].value >>= value))
        typed = std::string(value) == ulongSeq;
    }
    EXPECT_TRUE(typed);
  }

  RTC::TimedULongSeq decoded(const std::optional<std::pair<std::string, RTC::ByteOrder>>& pushed)
  {
    RTC::TimedULongSeq event;
    if (!pushed || !RTC::decodeCdr(pushed->first, pushed->second, event))
      ADD_FAILURE() << "no event, or one that does not decode";
    return event;
  }

  // A framework InPort puts an object reference into the profile and adds
  // its own keys; the connection is made with the tool's properties from
  // either end, and the whole flow runs as with our own ports.
  TEST(MapChanged, FrameworkInPortSubscribesFromEitherEnd)
  {
    RunningKorvent korvent;
    store(korvent, 2, 1, "ab");
    RTC::PortService_var changes = portNamed(korvent.rtc, "mapChanged");
    for (bool frameworkFirst : {true, false}) {
      SCOPED_TRACE(frameworkFirst ? "framework InPort first" : "mapChanged first");
      FrameworkDataPort peer(FrameworkDataPort::Direction::In, ulongSeq);
      RTC::ConnectorProfile profile = frameworkFirst ? dataPortConnector(peer.ref(), changes, ulongSeq)
                                                     : dataPortConnector(changes, peer.ref(), ulongSeq);
      RTC::PortService_var target = RTC::PortService::_duplicate(frameworkFirst ? peer.ref() : changes.in());
      ASSERT_EQ(target->connect(profile), RTC::RTC_OK);

      const CORBA::ULong version = static_cast<CORBA::ULong>(korvent.region->shape().version);
      expectEvent(decoded(peer.next()), version, 2, 1, "ab");  // the late joiner's event
      store(korvent, 3, 1, "cde");
      expectEvent(decoded(peer.next()), version + 1, 3, 1, "cde");
      store(korvent, 2, 1, "ab");
      expectEvent(decoded(peer.next()), version + 2, 2, 1, "ab");

      // Both ends keep the connection with the reference in it.
      RTC::ConnectorProfile_var kept = changes->get_connector_profile(profile.connector_id);
      CORBA::Object_var reference;
      for (CORBA::ULong i = 0; i < kept->properties.length(); ++i)
        if (std::string(kept->properties[i].name.in()) == "dataport.corba_cdr.inport_ref")
          kept->properties[i].value >>= CORBA::Any::to_object(reference.out());
      EXPECT_FALSE(CORBA::is_nil(reference));
      EXPECT_TRUE(peer.connector(profile.connector_id.in()));

      // Disconnected from the other end, nothing more arrives.
      RTC::PortService_var other = RTC::PortService::_duplicate(frameworkFirst ? changes.in() : peer.ref());
      EXPECT_EQ(other->disconnect(profile.connector_id), RTC::RTC_OK);
      RTC::ConnectorProfileList_var left = changes->get_connector_profiles();
      EXPECT_EQ(left->length(), 0u);
      EXPECT_FALSE(peer.connector(profile.connector_id.in()));
    }
    // An InPort of another type is refused by what it adds for its side.
    FrameworkDataPort wrongType(FrameworkDataPort::Direction::In, "IDL:RTC/TimedLong:1.0");
    RTC::ConnectorProfile mismatch =
        dataPortConnector(changes, wrongType.ref(), ulongSeq, {{"dataport.data_type", ""}});
    EXPECT_EQ(changes->connect(mismatch), RTC::RTC_ERROR);
    RTC::ConnectorProfileList_var left = changes->get_connector_profiles();
    EXPECT_EQ(left->length(), 0u);
    EXPECT_TRUE(korvent.process->running());
  }

  TEST(MapChanged, VersionsContinueAcrossARestartWithTheDurableMap)
  {
    TemporaryFolder folder;
    const std::vector<std::string> durable{"-o", "korvent.map.store:" + folder / "map.store"};
    {
      RunningKorvent first(durable);
      store(first, 2, 1, "ab");
      store(first, 2, 1, "cd");
      store(first, 3, 1, "efg");
      ASSERT_TRUE(first.process->stop(SIGTERM, 20s));
    }
    RunningKorvent second(durable);
    ChangeListener listener(second.rtc);
    ASSERT_EQ(listener.connected(), RTC::RTC_OK);
    expectEvent(listener.next(), 3, 3, 1, "efg");
    store(second, 1, 1, "h");
    expectEvent(listener.next(), 4, 1, 1, "h");
  }

  TEST(MapChanged, KorventMapWatchPrintsEachChangeAndFetchesIt)
  {
    RunningKorvent korvent;
    TemporaryFolder folder;
    store(korvent, 2, 2, "abcd");
    CORBA::String_var ior = clientOrb()->object_to_string(korvent.rtc);
    ChildProcess watch({KORVENT_MAP_PATH, "--ior", ior.in(), "watch", "--get", folder / "map.raw"});
    const std::string crc = [] {
      char text[9];
      std::snprintf(text, sizeof text, "%08x", mapio::crc32Of("abcd", 4));
      return std::string(text);
    }();
    std::optional<std::string> line = watch.readLine(20s);
    ASSERT_TRUE(line) << watch.errorOutput();
    EXPECT_EQ(line->rfind("version 1, 2 x 2, 4 bytes, CRC " + crc + ", stored 20", 0), 0u) << *line;
    EXPECT_EQ(watch.readLine(20s).value_or(""), "fetched 2 x 2, 4 bytes into " + folder / "map.raw");
    store(korvent, 3, 1, "xyz");
    line = watch.readLine(20s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rfind("version 2, 3 x 1, 3 bytes, CRC ", 0), 0u) << *line;
    EXPECT_EQ(watch.readLine(20s).value_or(""), "fetched 3 x 1, 3 bytes into " + folder / "map.raw");

    // Region writes and whole maps: the copy follows each, fetching only
    // the rectangle when its version follows the last one applied.
    auto storedNow = [&korvent] {
      CORBA::Short width = 0, height = 0;
      RTC::TimedOctetSeq map;
      korvent.service->getGridMap(width, height, map);
      const std::vector<CORBA::Octet> octets = octetsOf(map);
      return std::string(octets.begin(), octets.end());
    };
    int regionsFetched = 0;
    std::string seen;
    // Reads the watch's lines up to what it fetched for the current
    // version, then compares its copy with the stored map.
    auto catchUp = [&] {
      const std::string version = "version " + std::to_string(korvent.region->shape().version) + ",";
      for (bool announced = false;;) {
        const std::optional<std::string> next = watch.readLine(20s);
        if (!next)
          return false;
        seen += *next + "\n";
        if (announced) {
          regionsFetched += next->rfind("fetched region ", 0) == 0;
          return fileContent(folder / "map.raw") == storedNow();
        }
        announced = next->rfind(version, 0) == 0;
      }
    };
    std::srand(7);
    for (int write = 0; write < 12; ++write) {
      if (write % 6 == 0)
        store(korvent, 300, 200, std::string(300 * 200, static_cast<char>('a' + write)));
      else {
        const int x = std::rand() % 290, y = std::rand() % 190, w = 1 + std::rand() % (300 - x),
                  h = 1 + std::rand() % (200 - y);
        KorventRegion::CellSeq patch(static_cast<CORBA::ULong>(w * h));
        patch.length(static_cast<CORBA::ULong>(w * h));
        for (CORBA::ULong i = 0; i < patch.length(); ++i)
          patch[i] = static_cast<CORBA::Octet>(write + i);
        korvent.region->setRegion(x, y, w, h, patch);
      }
      ASSERT_TRUE(catchUp()) << "the copy did not follow write " << write << ":\n" << seen;
    }
    EXPECT_GE(regionsFetched, 5) << seen;
    const std::optional<int> status = watch.stop(SIGINT, 20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << watch.errorOutput();
    EXPECT_EQ(korvent.process->running(), true);
  }
}
