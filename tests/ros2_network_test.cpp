// A 64 MiB map from KorventComp on one host of a test network to a Fast DDS
// subscriber on another, over a link limited in rate and delayed, with
// discovery by multicast on that network: the whole map arrives, intact.
// The network lives in namespaces of the test's own.
#include "ChildProcess.h"
#include "RosMapListener.h"
#include "TemporaryFolder.h"
#include "TestNetwork.h"

#include "mapio/PgmImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

using namespace std::chrono_literals;

TEST(Ros2Network, A64MiBMapCrossesAShapedLinkToAnotherVendorsSubscriber)
{
  if (!TestNetwork::available())
    GTEST_SKIP() << "building a test network needs root and iproute2";
  constexpr int side = 8192;
  TemporaryFolder folder;
  mapio::GridMap image;
  image.width = side;
  image.height = side;
  image.cells.resize(static_cast<std::size_t>(side) * side);
  for (std::size_t i = 0; i < image.cells.size(); ++i)
    image.cells[i] = static_cast<char>((i % side) * 37 + (i / side) * 11);
  writeFile(folder / "big.pgm", mapio::encodePgm(image));
  std::string grid;
  for (int cell : rosGridOf(image.cells, side, side))
    grid.push_back(static_cast<char>(cell));
  const std::string expected =
    "crc32:" + std::to_string(crc32(0, reinterpret_cast<const Bytef*>(grid.data()), static_cast<uInt>(grid.size())));

  TestNetwork net(2);
  net.shape(1, 200, 2);
  const int domain = 1 + getpid() % 100;
  ChildProcess component(net.inHost(0, {"/usr/bin/env", "-C", "/", KORVENTCOMP_PATH,
                                        "-o", "naming.enable:NO",
                                        "-o", "corba.endpoints:" + net.address(0) + ":",
                                        "-o", "korvent.map.load:" + folder / "big.pgm",
                                        "-o", "korvent.ros2.enable:YES",
                                        "-o", "korvent.ros2.domain:" + std::to_string(domain),
                                        "-o", "korvent.ros2.localhost_only:NO",
                                        "-o", "logger.log_level:WARN"}));
  const auto start = std::chrono::system_clock::now();
  RosMapListener listener(net.inHost(1, RosMapListener::command(domain, net.address(1))));
  const std::optional<std::string> line = listener.find("map ", 300s);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - start);
  RecordProperty("map_arrived_after_ms", std::to_string(took.count()));
  ASSERT_TRUE(line) << listener.errorOutput() << component.errorOutput();
  const std::vector<std::string> map = fieldsOf(*line);
  ASSERT_EQ(map.size(), 16u) << *line;
  EXPECT_EQ(map[5] + " " + map[6], "8192 8192");
  EXPECT_EQ(map[14], expected);
  EXPECT_GT(net.bytesThrough(1), grid.size());
}
