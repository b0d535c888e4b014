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
#include "mapio/StoreFile.h"

#include <rtm/dataports/CdrCodec.h>

#include <KorventMapInfo.hh>

#include <gtest/gtest.h>

#include <algorithm>
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

  void expectEvent(const RTC::TimedULongSeq& event, std::uint64_t version, CORBA::ULong width, CORBA::ULong height,
                   const std::string& cells)
  {
    ASSERT_EQ(event.data.length(), 13u);
    EXPECT_EQ(event.data[0], static_cast<CORBA::ULong>(version));
    EXPECT_EQ(event.data[10], static_cast<CORBA::ULong>(version >> 32));
    const std::uint64_t runFloor = event.data[11] | std::uint64_t(event.data[12]) << 32;
    EXPECT_LT(runFloor, version);
    EXPECT_GT(runFloor, 0u);
    EXPECT_EQ(event.data[1], width);
    EXPECT_EQ(event.data[2], height);
    EXPECT_EQ(event.data[3], cells.size());
    EXPECT_EQ(event.data[4], mapio::crc32Of(cells.data(), cells.size()));
    EXPECT_EQ(event.data[5], 0u);
    EXPECT_EQ(event.data[6], 0u);
    EXPECT_EQ(event.data[7], width);
    EXPECT_EQ(event.data[8], height);
    EXPECT_EQ(event.data[9], 0u);  // cells changed; no description was given
  }

  // The version of the map stored now, as its event and every command give it.
  std::uint64_t announcedVersion(RunningKorvent& korvent)
  {
    return korvent.region->shape().version;
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
    expectEvent(latest, announcedVersion(korvent), 4, 1, "wxyz");
    EXPECT_GT(static_cast<std::int64_t>(latest.tm.sec), std::chrono::system_clock::to_time_t(before));

    store(korvent, -2, 3, std::string("\0\1\2", 3));  // sizes travel as their 16-bit pattern
    expectEvent(listener.next(), announcedVersion(korvent), 0xfffe, 3, std::string("\0\1\2", 3));

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

      const std::uint64_t version = korvent.region->shape().version;
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

  // The versions of the watch's lines, read up to the one for `last`.
  std::vector<unsigned long> versionsUpTo(ChildProcess& watch, unsigned long last)
  {
    std::vector<unsigned long> versions;
    while (versions.empty() || versions.back() < last) {
      const std::optional<std::string> line = watch.readLine(30s);
      if (!line)
        break;
      if (line->rfind("version ", 0) == 0)
        versions.push_back(std::stoul(line->substr(8)));
    }
    return versions;
  }

  CORBA::ULong changeConnectors(RTC::RTObject_ptr component)
  {
    RTC::PortService_var changes = portNamed(component, "mapChanged");
    RTC::ConnectorProfileList_var connectors = changes->get_connector_profiles();
    return connectors->length();
  }

  std::size_t occurrences(const std::string& text, const std::string& part)
  {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }

  // The component drops the connection of a watch that stopped past its
  // call timeout; continued, the watch finds out, connects again, says once
  // what it missed and reports every store from then on.
  TEST(MapChanged, WatchStoppedPastTheCallTimeoutComesBackAndMissesNothingLater)
  {
    RunningKorvent korvent({"-o", "corba.call_timeout:1"});
    TemporaryFolder folder;
    store(korvent, 2, 1, "ab");
    const unsigned long first = announcedVersion(korvent);
    CORBA::String_var ior = clientOrb()->object_to_string(korvent.rtc);
    ChildProcess watch({KORVENT_MAP_PATH, "--ior", ior.in(), "watch", "--get", folder / "map.raw"});
    ASSERT_EQ(versionsUpTo(watch, first), std::vector<unsigned long>{first}) << watch.errorOutput();

    watch.signal(SIGSTOP);
    ASSERT_TRUE(watch.waitUntilStopped(10s));
    for (const char* cells : {"cd", "ef", "gh"})
      store(korvent, 2, 1, cells);
    ASSERT_TRUE(waitFor([&] { return changeConnectors(korvent.rtc) == 0; }, 30s));
    watch.signal(SIGCONT);
    const std::string notice = "korvent-map: the change connection was lost and is made again; ";
    ASSERT_TRUE(waitFor([&] { return watch.errorOutput().find(notice) != std::string::npos; }, 30s))
        << watch.errorOutput();

    // Pushes the component timed out on may still arrive first.
    const std::vector<unsigned long> caughtUp = versionsUpTo(watch, first + 3);
    ASSERT_FALSE(caughtUp.empty());
    EXPECT_TRUE(std::is_sorted(caughtUp.begin(), caughtUp.end()));
    EXPECT_EQ(caughtUp.back(), first + 3);
    // Waiting for each: the connection sends only the newest waiting event.
    unsigned long version = first + 3;
    for (const char* cells : {"ij", "kl", "mn"}) {
      store(korvent, 2, 1, cells);
      ++version;
      EXPECT_EQ(versionsUpTo(watch, version), std::vector<unsigned long>{version}) << watch.errorOutput();
    }
    EXPECT_EQ(occurrences(watch.errorOutput(), notice), 1u) << watch.errorOutput();
    EXPECT_EQ(occurrences(watch.errorOutput(), "missed"), 1u) << watch.errorOutput();
    EXPECT_TRUE(waitFor([&] { return fileContent(folder / "map.raw") == "mn"; }, 20s));
    EXPECT_EQ(changeConnectors(korvent.rtc), 1u);
  }

  // A watch the component cannot push to (its published address leads
  // nowhere) says so once, naming the address, instead of reconnecting
  // silently for ever.
  TEST(MapChanged, WatchTheComponentCannotReachSaysSoOnceWithItsAddress)
  {
    RunningKorvent korvent;
    store(korvent, 2, 1, "ab");
    CORBA::String_var ior = clientOrb()->object_to_string(korvent.rtc);
    ChildProcess watch({KORVENT_MAP_PATH, "--ior", ior.in(), "watch", "-ORBendPointPublish", "giop:tcp:127.0.0.1:1"});
    const std::string notice = "korvent-map: the component cannot push changes to 127.0.0.1:1, ";
    ASSERT_TRUE(waitFor([&] { return watch.errorOutput().find(notice) != std::string::npos; }, 30s))
        << watch.errorOutput();
    store(korvent, 2, 1, "cd");
    ASSERT_TRUE(waitFor([&] { return changeConnectors(korvent.rtc) == 0; }, 30s));
    const std::optional<int> status = watch.stop(SIGINT, 20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << watch.errorOutput();
    EXPECT_EQ(occurrences(watch.errorOutput(), notice), 1u) << watch.errorOutput();
    EXPECT_EQ(occurrences(watch.errorOutput(), "made again"), 0u) << watch.errorOutput();
    EXPECT_EQ(watch.remainingOutput(), "");
  }

  // Restarted with its durable map, the component knows no connection; a
  // watch that found it by name finds it again and goes on.
  TEST(MapChanged, WatchFollowsARestartedComponent)
  {
    TemporaryFolder folder;
    const std::vector<std::string> durable{"-o", "korvent.map.store:" + folder / "map.store"};
    RunningKorvent korvent(durable);
    store(korvent, 2, 1, "ab");
    const unsigned long first = announcedVersion(korvent);
    ChildProcess watch({KORVENT_MAP_PATH, "-n", korvent.names.address(), "-c", korventName(), "watch", "--get",
                        folder / "map.raw"});
    ASSERT_EQ(versionsUpTo(watch, first), std::vector<unsigned long>{first}) << watch.errorOutput();

    ASSERT_TRUE(korvent.process->stop(SIGTERM, 20s));
    korvent.process = startKorventComp(korvent.names.address(), durable);
    ASSERT_TRUE(waitFor([&] { return korvent.bound(); }, 20s)) << korvent.process->errorOutput();
    CORBA::Object_var object = korvent.names.resolve(korventName());
    korvent.rtc = RTC::RTObject::_narrow(object);
    korvent.service = providedService(clientOrb(), korvent.rtc);
    korvent.region = providedRegionService(clientOrb(), korvent.rtc);
    ASSERT_TRUE(waitFor([&] { return changeConnectors(korvent.rtc) == 1; }, 30s)) << watch.errorOutput();

    // The restart numbers the map it loads anew, above every earlier version.
    store(korvent, 3, 1, "cde");
    const unsigned long latest = announcedVersion(korvent);
    const std::vector<unsigned long> after = versionsUpTo(watch, latest);
    ASSERT_FALSE(after.empty()) << watch.errorOutput();
    EXPECT_EQ(after.back(), latest);
    EXPECT_TRUE(waitFor([&] { return fileContent(folder / "map.raw") == "cde"; }, 20s));
    EXPECT_NE(watch.errorOutput().find("the change connection was lost and is made again; the component "
                                       "restarted; versions go on from "),
              std::string::npos)
        << watch.errorOutput();
    EXPECT_EQ(watch.errorOutput().find("missed"), std::string::npos) << watch.errorOutput();
    EXPECT_TRUE(watch.running());
  }

  // Versions never repeat: a restart numbers even the map it loads above
  // every version the last run handed out, with a durable map or without.
  TEST(MapChanged, VersionsIncreaseAcrossRestartsWithAndWithoutTheDurableMap)
  {
    TemporaryFolder folder;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-o", "korvent.map.store:" + folder / "map.store"}, std::vector<std::string>{}}) {
      CORBA::ULongLong last = 0;
      if (!options.empty())
        mapio::writeStoreFile(folder / "map.store", 2, 1, "zz", 0);  // from a run that counted from 0
      {
        RunningKorvent first(options);
        if (!options.empty()) {
          EXPECT_GT(first.region->shape().version, 0u) << "a version 0 in the file must not wrap round";
        }
        store(first, 2, 1, "ab");
        store(first, 2, 1, "cd");
        store(first, 3, 1, "efg");
        last = first.region->shape().version;
        ASSERT_TRUE(first.process->stop(SIGTERM, 20s));
      }
      RunningKorvent second(options);
      if (!options.empty()) {
        ChangeListener listener(second.rtc);
        ASSERT_EQ(listener.connected(), RTC::RTC_OK);
        EXPECT_GT(second.region->shape().version, last);
        expectEvent(listener.next(), announcedVersion(second), 3, 1, "efg");
      }
      store(second, 1, 1, "h");
      EXPECT_GT(second.region->shape().version, last);
    }
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
    EXPECT_EQ(line->rfind("version " + std::to_string(announcedVersion(korvent)) + ", 2 x 2, 4 bytes, CRC " + crc +
                              ", stored 20",
                          0),
              0u)
        << *line;
    EXPECT_EQ(watch.readLine(20s).value_or(""), "fetched 2 x 2, 4 bytes into " + folder / "map.raw");
    store(korvent, 3, 1, "xyz");
    line = watch.readLine(20s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rfind("version " + std::to_string(announcedVersion(korvent)) + ", 3 x 1, 3 bytes, CRC ", 0), 0u)
        << *line;
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
      const std::string version = "version " + std::to_string(announcedVersion(korvent)) + ",";
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

    // Only the description changes: nothing is fetched.
    CORBA::Object_var infoObject = providedObject(clientOrb(), korvent.rtc, "port.KorventMapInfo.KorventMapInfo");
    KorventMapInfo_var info = KorventMapInfo::_narrow(infoObject);
    KorventMapInfo::MapDescription description;
    description.resolution = 0.05;
    description.originX = description.originY = description.originYaw = 0;
    description.frame = "map";
    description.mode = KorventMapInfo::TRINARY;
    description.negate = false;
    description.occupiedThresh = 0.65;
    description.freeThresh = 0.196;
    description.text = "moved";
    info->setDescription(description);
    const std::string described = "version " + std::to_string(announcedVersion(korvent)) + ",";
    std::optional<std::string> next;
    while ((next = watch.readLine(20s)) && next->rfind(described, 0) != 0) {
    }
    ASSERT_TRUE(next) << watch.errorOutput();
    EXPECT_EQ(watch.readLine(20s).value_or(""),
              "fetched nothing (only the description changed) into " + folder / "map.raw");
    const std::optional<int> status = watch.stop(SIGINT, 20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << watch.errorOutput();
    EXPECT_EQ(korvent.process->running(), true);
  }
}
