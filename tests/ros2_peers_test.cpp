// The real KorventComp on ROS 2's DDS, checked by peers that are not ours:
// a Fast DDS subscriber with fastddsgen's types, and Foxglove's ROS 2
// decoder reading the bytes as they came over DDS.  Everything stays on
// the loopback (localhost-only discovery on both sides).
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "RosMapListener.h"
#include "TemporaryFolder.h"

#include "ros2/CdrReader.h"
#include "ros2/CdrWriter.h"
#include "ros2/DdsParticipant.h"
#include "ros2/RosMapCdr.h"

#include "mapio/PgmImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace
{
  using namespace std::chrono_literals;

  constexpr int mapWidth = 40;
  constexpr int mapHeight = 30;

  std::string hexOf(const std::vector<int>& cells)
  {
    std::ostringstream out;
    out << std::hex << std::setfill('0');
    for (int cell : cells)
      out << std::setw(2) << (cell & 0xff);
    return out.str();
  }

  std::string jsonArrayOf(const std::vector<int>& cells)
  {
    std::string out = "[";
    for (std::size_t i = 0; i < cells.size(); ++i)
      out += (i ? "," : "") + std::to_string(cells[i]);
    return out + "]";
  }

  // The first sample `reader` gets within the timeout.
  std::string firstSample(CdrReader& reader)
  {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline)
      for (std::string& bytes : reader.take(1s))
        return bytes;
    return {};
  }

  // Waits until the map is past `version`; the version it is at then.
  CORBA::ULongLong versionAfter(KorventRegion_ptr region, CORBA::ULongLong version)
  {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    CORBA::ULongLong now = region->shape().version;
    for (; now == version && std::chrono::steady_clock::now() < deadline; now = region->shape().version)
      std::this_thread::sleep_for(20ms);
    return now;
  }

  // Foxglove's decoding of `bytes` as JSON.
  std::string decodedByFoxglove(const TemporaryFolder& folder, const std::string& kind, const std::string& bytes)
  {
    const std::string path = folder / (kind + ".cdr");
    writeFile(path, bytes);
    ChildProcess node({NODE_PROGRAM, ROS2_DECODER_PATH, kind, path});
    const std::optional<std::string> json = node.readLine(30s);
    EXPECT_TRUE(json) << node.errorOutput();
    return json.value_or("");
  }
}

TEST(Ros2Peers, LateFastDdsSubscriberGetsTheMapAndUpdatesAndFoxgloveDecodesTheWireBytes)
{
  TemporaryFolder folder;
  mapio::GridMap image;
  image.width = mapWidth;
  image.height = mapHeight;
  for (int y = 0; y < mapHeight; ++y)
    for (int x = 0; x < mapWidth; ++x)
      image.cells.push_back(static_cast<char>((x * 37 + y * 11) % 256));
  writeFile(folder / "site.pgm", mapio::encodePgm(image));
  writeFile(folder / "site.yaml", "image: site.pgm\nresolution: 0.1\norigin: [1.5, -2.0, 0.5]\nnegate: 0\n"
                                  "occupied_thresh: 0.65\nfree_thresh: 0.196\nmode: trinary\n");

  // A domain of this test's own (each test of the suites has its range),
  // so that tests running side by side do not meet.
  const int domain = 1 + getpid() % 99;
  RunningKorvent korvent({"-o", "korvent.ros2.enable:YES", "-o", "korvent.ros2.domain:" + std::to_string(domain),
                          "-o", "korvent.ros2.localhost_only:YES"});
  const ToolOutcome set = runKorventMap(korvent.names.address(), {"set", folder / "site.yaml"});
  ASSERT_TRUE(set.succeeded()) << set.err;

  // Both peers join after the map was stored.
  const DdsParticipant participant(domain, true);
  CdrReader wireMaps(participant, "rt/map", ros2::occupancyGridTypeName, CdrTopicKind::Latched);
  CdrReader wireUpdates(participant, "rt/map_updates", ros2::occupancyGridUpdateTypeName, CdrTopicKind::Stream);
  RosMapListener listener(domain);

  const std::vector<int> expected = rosGridOf(image.cells, mapWidth, mapHeight);
  const std::optional<std::string> mapLine = listener.find("map ", 30s);
  ASSERT_TRUE(mapLine) << listener.errorOutput();
  const std::vector<std::string> map = fieldsOf(*mapLine);
  ASSERT_EQ(map.size(), 16u) << *mapLine;
  EXPECT_EQ(map[3], "map");
  EXPECT_EQ(std::stof(map[4]), 0.1f);
  EXPECT_EQ(map[5], std::to_string(mapWidth));
  EXPECT_EQ(map[6], std::to_string(mapHeight));
  EXPECT_EQ(std::stod(map[7]), 1.5);
  EXPECT_EQ(std::stod(map[8]), -2.0);
  EXPECT_EQ(std::stod(map[9]), 0.0);
  EXPECT_EQ(std::stod(map[10]), 0.0);
  EXPECT_EQ(std::stod(map[11]), 0.0);
  EXPECT_NEAR(std::stod(map[12]), std::sin(0.25), 1e-15);
  EXPECT_NEAR(std::stod(map[13]), std::cos(0.25), 1e-15);
  EXPECT_EQ(map[14], hexOf(expected));

  const std::string mapJson = decodedByFoxglove(folder, "map", firstSample(wireMaps));
  EXPECT_NE(mapJson.find("\"header\":{\"stamp\":{\"sec\":" + map[1] + ",\"nanosec\":" + map[2] +
                         "},\"frame_id\":\"map\"}"),
            std::string::npos)
    << mapJson;
  EXPECT_NE(mapJson.find("\"width\":40,\"height\":30,\"origin\":{\"position\":{\"x\":1.5,\"y\":-2,\"z\":0}"),
            std::string::npos)
    << mapJson;
  EXPECT_NE(mapJson.find("\"data\":" + jsonArrayOf(expected) + "}"), std::string::npos) << mapJson;

  // A region of 4 x 2 cells, 3 rows below the image's top: the grid's rows
  // 25 and 26, turned over.
  ASSERT_TRUE(listener.find("matched updates", 30s)) << listener.errorOutput();
  const std::string region = {0, '\xfe', '\xcd', 100, '\xfe', 0, 0, '\xcd'};
  korvent.region->setRegion(5, 3, 4, 2, cellSeqOf(std::vector<CORBA::Octet>(region.begin(), region.end())));
  const std::vector<int> expectedRegion = rosGridOf(region, 4, 2);
  const std::optional<std::string> updateLine = listener.find("update ", 30s);
  ASSERT_TRUE(updateLine) << listener.errorOutput();
  const std::vector<std::string> update = fieldsOf(*updateLine);
  ASSERT_EQ(update.size(), 10u) << *updateLine;
  EXPECT_EQ(update[3], "map");
  EXPECT_EQ(update[4] + " " + update[5] + " " + update[6] + " " + update[7], "5 25 4 2");
  EXPECT_EQ(update[8], hexOf(expectedRegion));

  const std::string updateJson = decodedByFoxglove(folder, "update", firstSample(wireUpdates));
  EXPECT_NE(updateJson.find("\"frame_id\":\"map\"},\"x\":5,\"y\":25,\"width\":4,\"height\":2,\"data\":" +
                            jsonArrayOf(expectedRegion) + "}"),
            std::string::npos)
    << updateJson;
}

// Maps from ROS 2 in, on the very topic KorventComp publishes on: a good map
// is stored with its geometry, a bad one leaves the map as it was, an update
// is a region write, and what KorventComp publishes never comes back to it.
TEST(Ros2Peers, MapsAndUpdatesFromRos2AreStoredAndNothingComesBack)
{
  const int domain = 100 + getpid() % 100;
  RunningKorvent korvent({"-o", "korvent.ros2.enable:YES", "-o", "korvent.ros2.domain:" + std::to_string(domain),
                          "-o", "korvent.ros2.localhost_only:YES", "-o", "korvent.ros2.subscribe:/map"});
  const DdsParticipant participant(domain, true);
  CdrWriter maps(participant, "rt/map", ros2::occupancyGridTypeName, CdrTopicKind::Latched);
  CdrWriter updates(participant, "rt/map_updates", ros2::occupancyGridUpdateTypeName, CdrTopicKind::Stream);
  ASSERT_TRUE(maps.waitForReader(30s));
  ASSERT_TRUE(updates.waitForReader(30s));
  const CORBA::ULongLong before = korvent.region->shape().version;

  ros2::OccupancyGridMessage map;
  map.frame = "map";
  map.resolution = 0.5f;
  map.width = 3;
  map.height = 2;
  map.position = {2, 3, 0};
  map.cells = {0, 100, -1, 100, 0, 0};
  ros2::OccupancyGridMessage shortOfCells = map;
  shortOfCells.cells.pop_back();
  // One at a time: the reader keeps the latest map only.
  ASSERT_EQ(maps.write(ros2::encode(shortOfCells)), DDS_RETCODE_OK);
  const std::string warning = "ignored a message on ROS 2 topic /map: 5 cells for 3 x 2; the map is as it was";
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (korvent.process->errorOutput().find(warning) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(korvent.process->errorOutput().find(warning), std::string::npos) << korvent.process->errorOutput();
  EXPECT_EQ(korvent.region->shape().version, before);
  ASSERT_EQ(maps.write(ros2::encode(map)), DDS_RETCODE_OK);
  const CORBA::ULongLong first = versionAfter(korvent.region, before);
  ASSERT_NE(first, before);
  CORBA::ULongLong version = 0;
  KorventRegion::CellSeq_var cells = korvent.region->getRegion(0, 0, 3, 2, version);
  EXPECT_EQ(version, first);
  // Trinary grey values, the image's top row first.
  const std::vector<CORBA::Octet> stored(cells->get_buffer(), cells->get_buffer() + cells->length());
  EXPECT_EQ(stored, (std::vector<CORBA::Octet>{0, 254, 254, 254, 0, 205}));

  ros2::OccupancyGridUpdateMessage update;
  update.frame = "map";
  update.width = 2;
  update.height = 1;
  update.cells = {-1, -1};
  ASSERT_EQ(updates.write(ros2::encode(update)), DDS_RETCODE_OK);
  // Had the map come back, it would have been stored again meanwhile.
  ASSERT_EQ(versionAfter(korvent.region, first), first + 1);
  cells = korvent.region->getRegion(0, 1, 3, 1, version);
  EXPECT_EQ(version, first + 1);
  EXPECT_EQ(std::vector<CORBA::Octet>(cells->get_buffer(), cells->get_buffer() + cells->length()),
            (std::vector<CORBA::Octet>{205, 205, 205}));
}
