// The map's cells in ROS 2's convention, the messages' bytes, and what the
// subscriber makes of good and bad maps, in process.
#include "ros2/DdsParticipant.h"
#include "ros2/Ros2MapSubscriber.h"
#include "ros2/Ros2Settings.h"
#include "ros2/RosCells.h"
#include "ros2/RosMapCdr.h"

#include "store/GridMapStore.h"

#include <rtm/util/ConfigError.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace
{
  std::string octets(const std::vector<int>& values)
  {
    std::string out;
    for (int value : values)
      out.push_back(static_cast<char>(value));
    return out;
  }

  mapio::MapDescription described(mapio::OccupancyMode mode, bool negate = false)
  {
    mapio::MapDescription description;
    description.mode = mode;
    description.negate = negate;
    return description;
  }

  template <typename T> T at(const std::string& bytes, std::size_t offset)
  {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
  }
}

// Expected values worked out by hand from the map server's rule with the
// default thresholds (occupied 0.65, free 0.196): p = (255 - grey) / 255.
TEST(RosCells, ConvertEachModeAsTheMapServerDoes)
{
  using Layout = RosCells::Layout;
  // Top image row first: grey 0 (p 1), 100 (p .608), 254 (p .004);
  // 205 (p .19608, just above free), 206 (p .19216), 89 (p .65098).
  const RosCells trinary(Layout::Image, described(mapio::OccupancyMode::Trinary));
  EXPECT_EQ(trinary.toRos(octets({0, 100, 254, 205, 206, 89}), 3, 2), octets({-1, 0, 100, 100, -1, 0}));
  // Scale: grey 128 is 99 x (.49804 - .196) / .454 = 65.9; 200 gives 4.3;
  // 90 gives 98.4; 205 gives 0.02.
  const RosCells scale(Layout::Image, described(mapio::OccupancyMode::Scale));
  EXPECT_EQ(scale.toRos(octets({0, 128, 200, 90, 205, 254}), 3, 2), octets({98, 0, 0, 100, 66, 4}));
  // negate: p = grey / 255.
  const RosCells negated(Layout::Image, described(mapio::OccupancyMode::Trinary, true));
  EXPECT_EQ(negated.toRos(octets({0, 255, 100}), 3, 1), octets({0, 100, -1}));
  // raw: the grey value itself as int8, 255 as -1.
  const RosCells raw(Layout::Image, described(mapio::OccupancyMode::Raw));
  EXPECT_EQ(raw.toRos(octets({0, 100, 200, 255}), 2, 2), octets({200, 255, 0, 100}));
  // Occupancy values stay as they are, rows too.
  const RosCells occupancy(Layout::Occupancy, described(mapio::OccupancyMode::Scale));
  EXPECT_EQ(occupancy.toRos(octets({0, 100, 255, 50}), 2, 2), octets({0, 100, -1, 50}));

  // Back: each value takes the grey value a map is saved with.
  EXPECT_EQ(trinary.fromRos(octets({-1, 0, 100}), 3, 1), octets({205, 254, 0}));
  EXPECT_EQ(occupancy.fromRos(octets({-1, 0, 100}), 3, 1), octets({255, 0, 100}));

  // A rectangle of the image's top row is the grid's top row.
  const CellRectangle top = trinary.flipped({1, 0, 2, 1}, 3);
  EXPECT_EQ(top.y, 2);
  EXPECT_EQ(top.x, 1);
  EXPECT_EQ(occupancy.flipped({1, 0, 2, 1}, 3).y, 0);
}

// Offsets as ROS 2 lays the messages out, after the 4-byte encapsulation.
TEST(RosMapCdr, LaysTheMessagesOutAsRos2DoesAndRefusesBrokenBytes)
{
  ros2::OccupancyGridMessage map;
  map.stamp = {1700000000, 123};
  map.frame = "map";
  map.loadTime = {1700000000, 456};
  map.resolution = 0.05f;
  map.width = 3;
  map.height = 2;
  map.position = {1.5, -2, 0};
  map.orientation = {0, 0, std::sin(0.25), std::cos(0.25)};
  map.cells = octets({-1, 0, 100, 100, -1, 0});
  const std::string bytes = ros2::encode(map);
  ASSERT_EQ(bytes.size(), 4u + 100u + 6u);
  EXPECT_EQ(bytes.substr(0, 4), octets({0, 1, 0, 0}));
  EXPECT_EQ(at<std::int32_t>(bytes, 4 + 0), 1700000000);
  EXPECT_EQ(at<std::uint32_t>(bytes, 4 + 8), 4u);
  EXPECT_EQ(bytes.substr(4 + 12, 4), std::string("map", 4));
  EXPECT_EQ(at<std::uint32_t>(bytes, 4 + 20), 456u);
  EXPECT_EQ(at<float>(bytes, 4 + 24), 0.05f);
  EXPECT_EQ(at<std::uint32_t>(bytes, 4 + 28), 3u);
  EXPECT_EQ(at<std::uint32_t>(bytes, 4 + 32), 2u);
  EXPECT_EQ(at<double>(bytes, 4 + 40), 1.5);
  EXPECT_EQ(at<double>(bytes, 4 + 88), std::cos(0.25));
  EXPECT_EQ(at<std::uint32_t>(bytes, 4 + 96), 6u);
  EXPECT_EQ(bytes.substr(4 + 100), map.cells);

  const ros2::OccupancyGridMessage back = ros2::decodeOccupancyGrid(bytes);
  EXPECT_EQ(back.frame, "map");
  EXPECT_EQ(back.loadTime.nanosec, 456u);
  EXPECT_EQ(back.orientation, map.orientation);
  EXPECT_EQ(back.cells, map.cells);

  ros2::OccupancyGridUpdateMessage update;
  update.frame = "map";
  update.x = 1;
  update.y = 2;
  update.width = 2;
  update.height = 1;
  update.cells = octets({100, -1});
  const std::string updateBytes = ros2::encode(update);
  ASSERT_EQ(updateBytes.size(), 4u + 36u + 2u);
  EXPECT_EQ(at<std::int32_t>(updateBytes, 4 + 20), 2);
  EXPECT_EQ(at<std::uint32_t>(updateBytes, 4 + 32), 2u);
  EXPECT_EQ(ros2::decodeOccupancyGridUpdate(updateBytes).cells, update.cells);

  EXPECT_THROW(ros2::decodeOccupancyGrid(bytes.substr(0, bytes.size() - 1)), std::invalid_argument);
  EXPECT_THROW(ros2::decodeOccupancyGrid(octets({0, 0, 0, 0}) + bytes.substr(4)), std::invalid_argument);
  std::string unterminated = bytes;
  unterminated[4 + 15] = 'x';
  EXPECT_THROW(ros2::decodeOccupancyGrid(unterminated), std::invalid_argument);
  EXPECT_THROW(ros2::decodeOccupancyGridUpdate(bytes.substr(0, 20)), std::invalid_argument);
}

TEST(Ros2MapSubscriber, StoresGoodMapsAndUpdatesAndLeavesTheMapAsItWasForBadOnes)
{
  GridMapStore store;
  // A domain of this test's own (ros2_peers_test's use 1 to 199); the
  // participant stays on the loopback.
  const DdsParticipant participant(200 + getpid() % 30, true);
  Ros2MapSubscriber subscriber(store, participant, "/korvent_test_in", RosCells::Layout::Image);

  ros2::OccupancyGridMessage map;
  map.frame = "odom";
  map.resolution = 0.25f;
  map.width = 3;
  map.height = 2;
  map.position = {4, -1, 0};
  map.orientation = {0, 0, std::sin(0.3), std::cos(0.3)};
  map.cells = octets({0, 100, -1, 100, 0, 0});
  subscriber.storeMap(ros2::encode(map));
  GridMapStore::Snapshot stored = store.current();
  EXPECT_EQ(stored->mapWidth, 3);
  EXPECT_EQ(stored->mapHeight, 2);
  // Rows turned over, trinary grey values.
  EXPECT_EQ(stored->bytes(), octets({0, 254, 254, 254, 0, 205}));
  ASSERT_TRUE(stored->description);
  EXPECT_EQ(stored->description->frame, "odom");
  EXPECT_EQ(stored->description->resolution, 0.25);
  EXPECT_NEAR(stored->description->origin[2], 0.6, 1e-12);
  EXPECT_EQ(stored->description->origin[0], 4);

  ros2::OccupancyGridUpdateMessage update;
  update.x = 1;
  update.y = 1;
  update.width = 2;
  update.height = 1;
  update.cells = octets({-1, 100});
  subscriber.applyUpdate(ros2::encode(update));
  EXPECT_EQ(store.current()->bytes(), octets({0, 205, 0, 254, 0, 205}));
  const std::uint64_t version = store.current()->version;

  auto refused = [&](ros2::OccupancyGridMessage bad) {
    EXPECT_THROW(subscriber.storeMap(ros2::encode(bad)), std::invalid_argument);
  };
  ros2::OccupancyGridMessage bad = map;
  bad.cells.pop_back();
  refused(bad);
  bad = map;
  bad.width = 40000;
  bad.cells.assign(40000 * 2, '\0');
  refused(bad);
  bad = map;
  bad.resolution = std::numeric_limits<float>::quiet_NaN();
  refused(bad);
  bad = map;
  bad.orientation[3] = std::numeric_limits<double>::infinity();
  refused(bad);
  EXPECT_THROW(subscriber.storeMap(octets({0, 1, 0, 0, 7})), std::invalid_argument);

  ros2::OccupancyGridUpdateMessage outside = update;
  outside.x = 2;
  EXPECT_THROW(subscriber.applyUpdate(ros2::encode(outside)), std::runtime_error);
  outside = update;
  outside.cells.push_back(0);
  EXPECT_THROW(subscriber.applyUpdate(ros2::encode(outside)), std::invalid_argument);
  EXPECT_EQ(store.current()->version, version);
  EXPECT_EQ(store.current()->bytes(), octets({0, 205, 0, 254, 0, 205}));
}

TEST(Ros2Settings, OffByDefaultTakeRosEnvironmentAndRefuseWhatCannotWork)
{
  RTC::Properties config;
  EXPECT_FALSE(ros2SettingsOf(config));
  config.setProperty("korvent.ros2.enable", "YES");
  unsetenv("ROS_DOMAIN_ID");
  unsetenv("ROS_LOCALHOST_ONLY");
  const Ros2Settings defaults = ros2SettingsOf(config).value();
  EXPECT_EQ(defaults.domain, 0);
  EXPECT_EQ(defaults.topic, "/map");
  EXPECT_EQ(ddsTopicOf(defaults.topic + "_updates"), "rt/map_updates");
  EXPECT_TRUE(defaults.subscribe.empty());
  EXPECT_FALSE(defaults.localhostOnly);
  EXPECT_EQ(defaults.cells, RosCells::Layout::Image);

  setenv("ROS_DOMAIN_ID", "42", 1);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  config.setProperty("korvent.map.load.occupancy", "yes");
  config.setProperty("korvent.ros2.subscribe", "slam/map");
  const Ros2Settings fromEnvironment = ros2SettingsOf(config).value();
  EXPECT_EQ(fromEnvironment.domain, 42);
  EXPECT_TRUE(fromEnvironment.localhostOnly);
  EXPECT_EQ(fromEnvironment.subscribe, "/slam/map");
  EXPECT_EQ(fromEnvironment.cells, RosCells::Layout::Occupancy);
  config.setProperty("korvent.ros2.domain", "7");
  EXPECT_EQ(ros2SettingsOf(config).value().domain, 7);
  unsetenv("ROS_DOMAIN_ID");
  unsetenv("ROS_LOCALHOST_ONLY");

  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
         {"korvent.ros2.domain", "233"}, {"korvent.ros2.domain", "x"}, {"korvent.ros2.topic", "/map/"},
         {"korvent.ros2.topic", "map-1"}, {"korvent.ros2.cells", "grey"}}) {
    RTC::Properties bad = config;
    bad.setProperty(key, value);
    EXPECT_THROW(ros2SettingsOf(bad), RTC::ConfigError) << key << ": " << value;
  }
}
