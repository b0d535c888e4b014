// The real KorventComp's Foxglove endpoint, checked with Foxglove's own
// client on Node and with raw WebSocket viewers: what a viewer is offered
// and sent, the subprotocols, bad requests, and a viewer that stops reading.
#include "ChildProcess.h"
#include "FoxgloveConnection.h"
#include "GridMapClient.h"
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "RosMapListener.h"
#include "TemporaryFolder.h"
#include "TestCertificates.h"

#include "ros2/RosMapCdr.h"

#include "mapio/PgmImage.h"

#include <KorventMapInfo.hh>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <csignal>
#include <sys/wait.h>

namespace
{
  using namespace std::chrono_literals;
  using nlohmann::json;

  // A map image of width x height grey cells and its YAML in `folder`, its
  // origin at (1.5, -2) turned by 0.5 rad.
  mapio::GridMap writeMapFiles(const TemporaryFolder& folder, int width, int height)
  {
    mapio::GridMap image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        image.cells.push_back(static_cast<char>((x * 37 + y * 11) % 256));
    writeFile(folder / "site.pgm", mapio::encodePgm(image));
    writeFile(folder / "site.yaml", "image: site.pgm\nresolution: 0.1\norigin: [1.5, -2.0, 0.5]\nnegate: 0\n"
                                    "occupied_thresh: 0.65\nfree_thresh: 0.196\nmode: trinary\n");
    return image;
  }

  // The same, stored with korvent-map.
  mapio::GridMap storeMap(const RunningKorvent& korvent, const TemporaryFolder& folder, int width, int height)
  {
    const mapio::GridMap image = writeMapFiles(folder, width, height);
    const ToolOutcome set = runKorventMap(korvent.names.address(), {"set", folder / "site.yaml"});
    EXPECT_TRUE(set.succeeded()) << set.err;
    return image;
  }

  void writeRegion(const RunningKorvent& korvent, mapio::GridMap& image, int x, int y, int width, int height,
                   const std::string& cells)
  {
    korvent.region->setRegion(x, y, width, height, cellSeqOf(std::vector<CORBA::Octet>(cells.begin(), cells.end())));
    for (int row = 0; row < height; ++row)
      image.cells.replace(std::size_t(y + row) * image.width + x, width, cells.substr(std::size_t(row) * width, width));
  }

  std::string endpointOf(ChildProcess& component, const std::string& scheme = "ws")
  {
    return loggedValue(component, "Foxglove endpoint at " + scheme + "://([0-9.]+:[0-9]+)", "Foxglove endpoint");
  }

  // The next line the Node viewer prints with event `event`.
  json nextEvent(ChildProcess& viewer, const std::string& event)
  {
    for (;;) {
      const std::optional<std::string> line = viewer.readLine(60s);
      if (!line) {
        ADD_FAILURE() << "no " << event << " from the viewer: " << viewer.errorOutput();
        return json();
      }
      json parsed = json::parse(*line);
      EXPECT_NE(parsed["event"], "failed") << *line;
      if (parsed["event"] == event)
        return parsed;
    }
  }

  json nextMessageOn(ChildProcess& viewer, const std::string& topic)
  {
    for (json message = nextEvent(viewer, "message"); !message.is_null(); message = nextEvent(viewer, "message"))
      if (message["topic"] == topic)
        return message["message"];
    return json();
  }

  std::vector<int> rosCells(const mapio::GridMap& image)
  {
    return rosGridOf(image.cells, image.width, image.height);
  }

  std::string rosBytes(const mapio::GridMap& image)
  {
    const std::vector<int> cells = rosCells(image);
    return std::string(cells.begin(), cells.end());
  }

  std::string subscribe(std::uint32_t id, std::uint32_t channel)
  {
    return json{{"op", "subscribe"}, {"subscriptions", {{{"id", id}, {"channelId", channel}}}}}.dump();
  }

  // Stops the component as its service would, which must end it cleanly
  // with viewers still connected.
  void expectCleanStop(ChildProcess& component)
  {
    const std::optional<int> status = component.stop(SIGTERM, 30s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component.errorOutput();
  }

  int statusLevelOf(const std::optional<std::string>& status)
  {
    return status ? json::parse(*status).value("level", -1) : -1;
  }
}

TEST(Foxglove, FoxgloveClientGetsTheMapItsChangesAndUpdatesAndOnlyKnownSubprotocolsAreAccepted)
{
  TemporaryFolder folder;
  RunningKorvent korvent(foxgloveArgs());
  const std::string endpoint = "ws://" + endpointOf(*korvent.process);
  mapio::GridMap image = storeMap(korvent, folder, 40, 30);

  ChildProcess viewer({NODE_PROGRAM, FOXGLOVE_VIEWER_PATH, endpoint, "foxglove.websocket.v1", "follow"});
  const json info = nextEvent(viewer, "serverInfo");
  EXPECT_EQ(info["protocol"], "foxglove.websocket.v1");
  EXPECT_EQ(info["info"]["name"], "KorventComp");
  const json channels = nextEvent(viewer, "advertise")["channels"];
  ASSERT_EQ(channels.size(), 2u) << channels;
  for (const auto& [topic, schema, dependency] :
       {std::tuple("/map", "nav_msgs/msg/OccupancyGrid", "MSG: geometry_msgs/msg/Quaternion"),
        std::tuple("/map_updates", "map_msgs/msg/OccupancyGridUpdate", "MSG: builtin_interfaces/msg/Time")}) {
    const auto channel = std::find_if(channels.begin(), channels.end(), [&](const json& c) { return c["topic"] == topic; });
    ASSERT_NE(channel, channels.end()) << topic;
    EXPECT_EQ((*channel)["encoding"], "cdr");
    EXPECT_EQ((*channel)["schemaEncoding"], "ros2msg");
    EXPECT_EQ((*channel)["schemaName"], schema);
    EXPECT_NE((*channel)["schema"].get<std::string>().find(std::string(80, '=') + "\n" + dependency + "\n"),
              std::string::npos);
  }

  // The current map at once, as Foxglove's decoder reads it with the
  // advertised schema.
  const json map = nextMessageOn(viewer, "/map");
  EXPECT_EQ(map["header"]["frame_id"], "map");
  EXPECT_EQ(map["info"]["resolution"], static_cast<double>(0.1f));
  EXPECT_EQ(map["info"]["width"], 40);
  EXPECT_EQ(map["info"]["height"], 30);
  EXPECT_EQ(map["info"]["origin"]["position"], json::parse(R"({"x":1.5,"y":-2,"z":0})"));
  EXPECT_NEAR(map["info"]["origin"]["orientation"]["z"].get<double>(), std::sin(0.25), 1e-15);
  EXPECT_NEAR(map["info"]["origin"]["orientation"]["w"].get<double>(), std::cos(0.25), 1e-15);
  EXPECT_EQ(map["data"], json(rosCells(image)));

  // A region write: a new whole map.
  writeRegion(korvent, image, 5, 3, 4, 2, {0, '\xfe', '\xcd', 100, '\xfe', 0, 0, '\xcd'});
  EXPECT_EQ(nextMessageOn(viewer, "/map")["data"], json(rosCells(image)));
  // Unsubscribed from /map, the viewer fails on any /map message; the next
  // change comes on /map_updates, rows turned over (image rows 10..12 are
  // grid rows 17..19).
  nextEvent(viewer, "unsubscribed");
  const std::string cells = {0, 0, 0, '\xfe', '\xfe', '\xfe'};
  writeRegion(korvent, image, 20, 10, 2, 3, cells);
  const json update = nextMessageOn(viewer, "/map_updates");
  EXPECT_EQ(update["x"], 20);
  EXPECT_EQ(update["y"], 17);
  EXPECT_EQ(update["width"], 2);
  EXPECT_EQ(update["height"], 3);
  EXPECT_EQ(update["data"], json(rosGridOf(cells, 2, 3)));
  const std::optional<int> ended = viewer.wait(30s);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) << viewer.errorOutput();

  // A client offering only the newer name gets the current map.
  ChildProcess sdk({NODE_PROGRAM, FOXGLOVE_VIEWER_PATH, endpoint, "foxglove.sdk.v1", "first"});
  EXPECT_EQ(nextEvent(sdk, "serverInfo")["protocol"], "foxglove.sdk.v1");
  EXPECT_EQ(nextMessageOn(sdk, "/map")["data"], json(rosCells(image)));

  ChildProcess stranger({NODE_PROGRAM, FOXGLOVE_VIEWER_PATH, endpoint, "stranger.v1", "refused"});
  const json refused = nextEvent(stranger, "refused");
  EXPECT_EQ(refused["status"], 400);
  EXPECT_NE(refused["body"].get<std::string>().find("foxglove.websocket.v1"), std::string::npos) << refused;
  expectCleanStop(*korvent.process);
}

TEST(Foxglove, BadRequestsGetErrorsAndAStalledViewerIsClosedWhileAnotherKeepsGettingEveryVersion)
{
  TemporaryFolder folder;
  RunningKorvent korvent([] {
    std::vector<std::string> args = foxgloveArgs();
    for (const char* setting : {"korvent.foxglove.stall_grace:1", "korvent.foxglove.max_connections:2",
                                "korvent.foxglove.max_message_kb:1"})
      args.insert(args.end(), {"-o", setting});
    return args;
  }());
  const std::string endpoint = endpointOf(*korvent.process);
  const std::string host = endpoint.substr(0, endpoint.find(':'));
  const int port = std::stoi(endpoint.substr(endpoint.find(':') + 1));
  mapio::GridMap image = storeMap(korvent, folder, 2048, 2048);  // 4 MiB

  FoxgloveConnection reader(host, port);
  ASSERT_TRUE(reader.readOp("advertise", 30s));
  for (const std::string& bad : {std::string("{\"op\":"), std::string("[1]"), std::string("{\"op\":\"publish\"}"),
                                 subscribe(1, 99), std::string("{\"op\":\"subscribe\",\"subscriptions\":[{\"id\":-1}]}")}) {
    reader.sendText(bad);
    EXPECT_EQ(statusLevelOf(reader.readOp("status", 30s)), 2) << bad;
  }
  reader.sendBinary(std::string(16, '\x02'));
  EXPECT_EQ(statusLevelOf(reader.readOp("status", 30s)), 2);
  reader.sendText(subscribe(7, 1));
  auto nextMap = [&reader] {
    const std::optional<FoxgloveConnection::Message> message = reader.read(60s);
    if (!message || !message->binary || FoxgloveConnection::subscriptionOf(message->bytes) != 7)
      throw std::runtime_error("no map for subscription 7");
    return ros2::decodeOccupancyGrid(FoxgloveConnection::payloadOf(message->bytes));
  };
  EXPECT_EQ(nextMap().cells.size(), image.cells.size());

  // A viewer that subscribes and never reads, with a tiny receive window.
  FoxgloveConnection stalled(host, port, "foxglove.websocket.v1", 4096);
  stalled.sendText(subscribe(1, 1));
  EXPECT_THROW(FoxgloveConnection(host, port), std::exception) << "a third viewer over max_connections";

  // Every version reaches the reader while the stalled viewer fills its
  // buffers and is closed.
  bool closed = false;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  for (int change = 0; !closed && std::chrono::steady_clock::now() < deadline; ++change) {
    writeRegion(korvent, image, 100 + change % 1000, 200, 4, 4, std::string(16, static_cast<char>(change)));
    EXPECT_EQ(nextMap().cells, rosBytes(image)) << change;
    closed = korvent.process->errorOutput().find("nothing of its message could be sent for 1 s") != std::string::npos;
  }
  EXPECT_TRUE(closed) << korvent.process->errorOutput();

  // Its place is free again, and the reader still gets the next version.
  std::optional<FoxgloveConnection> another;
  ASSERT_NO_THROW(another.emplace(host, port));
  writeRegion(korvent, image, 0, 0, 1, 1, "\x40");
  EXPECT_EQ(nextMap().cells, rosBytes(image));
  // A new description alone sends the map again, placed anew.
  CORBA::Object_var infoObject = providedObject(clientOrb(), korvent.rtc, "port.KorventMapInfo.KorventMapInfo");
  KorventMapInfo_var info = KorventMapInfo::_narrow(infoObject);
  KorventMapInfo::MapDescription description;
  description.resolution = 0.25;
  description.originX = 3.5;
  description.originY = description.originYaw = 0;
  description.frame = "site";
  description.mode = KorventMapInfo::TRINARY;
  description.negate = false;
  description.occupiedThresh = 0.65;
  description.freeThresh = 0.196;
  info->setDescription(description);
  const ros2::OccupancyGridMessage moved = nextMap();
  EXPECT_EQ(moved.frame, "site");
  EXPECT_EQ(moved.resolution, 0.25f);
  EXPECT_EQ(moved.position[0], 3.5);
  EXPECT_EQ(moved.cells, rosBytes(image));
  // A message over max_message_kb ends the connection that sent it.
  ASSERT_TRUE(another->readOp("advertise", 30s));
  another->sendText(std::string(2048, ' '));
  EXPECT_FALSE(another->read(30s));
  expectCleanStop(*korvent.process);
}

TEST(Foxglove, TlsWithTheOrbsCertificatesForViewersItTrusts)
{
  TemporaryFolder folder;
  const mapio::GridMap image = writeMapFiles(folder, 40, 30);
  TestCertificates trusted{"trusted test CA"};
  TestCertificates stranger{"stranger test CA"};
  NameServer names;
  names.start();
  std::vector<std::string> args{"-o", "corba.ssl.mode:mixed", "-o", "corba.ssl.ca_file:" + trusted.authorityFile(),
                                "-o", "corba.ssl.certificate:" + trusted.certificateFor("server"),
                                "-o", "korvent.map.load:" + folder / "site.yaml"};
  const std::vector<std::string> foxglove = foxgloveArgs();
  args.insert(args.end(), foxglove.begin(), foxglove.end());
  auto component = startKorventComp(names.address(), args);
  const std::string endpoint = "wss://" + endpointOf(*component, "wss");

  ChildProcess viewer({NODE_PROGRAM, FOXGLOVE_VIEWER_PATH, endpoint, "foxglove.websocket.v1", "first"},
                      {"KORVENT_TLS_CERT=" + trusted.certificateFor("viewer")});
  EXPECT_EQ(nextEvent(viewer, "serverInfo")["protocol"], "foxglove.websocket.v1");
  EXPECT_EQ(nextMessageOn(viewer, "/map")["data"], json(rosCells(image)));

  // A certificate of another authority gets no WebSocket.
  ChildProcess intruder({NODE_PROGRAM, FOXGLOVE_VIEWER_PATH, endpoint, "foxglove.websocket.v1", "first"},
                        {"KORVENT_TLS_CERT=" + stranger.certificateFor("intruder")});
  const std::optional<std::string> refused = intruder.readLine(60s);
  ASSERT_TRUE(refused);
  EXPECT_EQ(json::parse(*refused)["event"], "failed") << *refused;
  expectCleanStop(*component);
}
