// korvent-map against a real KorventComp and omniNames: every format round
// trip, occupancy conversion, and each bad input's one line.
#include "GridMapClient.h"
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"
#include "TestCertificates.h"

#include "mapio/MapFile.h"
#include "mapio/PgmImage.h"
#include "mapio/PngImage.h"

#include <nlohmann/json.hpp>

#include <png.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <optional>
#include <sstream>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  mapio::GridMap randomImage(short width, short height, unsigned seed)
  {
    std::mt19937 random(seed);
    mapio::GridMap map;
    map.width = width;
    map.height = height;
    map.cells.resize(static_cast<std::size_t>(width) * height);
    for (char& cell : map.cells)
      cell = static_cast<char>(random() & 0xff);
    return map;
  }

  class KorventMapTool : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      names_.start();
      component_ = startKorventComp(names_.address(), extraArgs());
      ASSERT_TRUE(waitFor([this] { return componentReady(); }, 20s)) << component_->errorOutput();
    }

    void TearDown() override
    {
      std::optional<int> status = component_->stop(SIGTERM, 20s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component_->errorOutput();
    }

    virtual std::vector<std::string> extraArgs() const { return {}; }
    virtual bool componentReady() { return korventBound(names_); }
    // Options every run of the tool gets before `args`.
    virtual std::vector<std::string> toolOptions() const { return {}; }

    ToolOutcome tool(std::vector<std::string> args)
    {
      const std::vector<std::string> options = toolOptions();
      args.insert(args.begin(), options.begin(), options.end());
      return runKorventMap(names_.address(), args);
    }

    // The stored map's description, to show that a failed set changed nothing.
    std::string storedInfo()
    {
      const ToolOutcome info = tool({"info", "--json"});
      EXPECT_TRUE(info.succeeded()) << info.err;
      return info.out;
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> component_;
    TemporaryFolder folder_;
  };

  class KorventMapToolSmallMessages : public KorventMapTool
  {
  protected:
    std::vector<std::string> extraArgs() const override { return {"-o", "corba.args:-ORBgiopMaxMsgSize 2097152"}; }
  };

  class KorventMapToolCompressed : public KorventMapTool
  {
  protected:
    std::vector<std::string> extraArgs() const override { return {"-o", "corba.compression.enable:YES"}; }
  };

  // A component that serves over TLS only, and trusts one authority.
  class KorventMapToolTls : public KorventMapTool
  {
  protected:
    std::vector<std::string> extraArgs() const override
    {
      return {"-o", "corba.ssl.mode:only", "-o", "corba.ssl.ca_file:" + trusted_.authorityFile(),
              "-o", "corba.ssl.certificate:" + serverCertificate_};
    }
    // This test process has no TLS, so it can only see the name bound.
    bool componentReady() override
    {
      return !CORBA::is_nil(CORBA::Object_var(names_.resolve(korventName())));
    }
    std::vector<std::string> toolOptions() const override
    {
      return {"--ca", trusted_.authorityFile(), "--cert", clientCertificate_};
    }

    TestCertificates trusted_{"trusted test CA"};
    TestCertificates stranger_{"stranger test CA"};
    std::string serverCertificate_ = trusted_.certificateFor("server");
    std::string clientCertificate_ = trusted_.certificateFor("korvent-map");
  };

  // How many messages the ORB's trace (level 25) says it compressed.
  std::size_t compressedMessages(const std::string& log)
  {
    std::size_t count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
      count += line.find("Compress GIOP message of ") != std::string::npos;
    return count;
  }

  // Rows of free space with a wall every so often: compresses as maps do.
  std::string occupancyLike(std::size_t width, std::size_t height)
  {
    std::string cells(width * height, '\0');
    for (std::size_t y = 0; y < height; ++y)
      for (std::size_t x = 0; x < width; ++x)
        if (x % 97 == 0 || y % 53 == 0)
          cells[y * width + x] = 100;
    return cells;
  }
}

TEST_F(KorventMapTool, EveryFormatRoundTripsByteForByte)
{
  const mapio::GridMap image = randomImage(37, 23, 1);
  writeFile(folder_ / "in.pgm", mapio::encodePgm(image));
  writeFile(folder_ / "in.png", mapio::encodePng(image, "in.png"));
  mapio::writeMapFile(folder_ / "in.yaml", image, {});
  writeFile(folder_ / "in.raw", image.cells);

  // Fetched under the same names in another folder: a YAML names its image.
  ::mkdir((folder_ / "out").c_str(), 0700);
  for (const char* format : {"pgm", "png", "yaml"}) {
    const std::string in = folder_ / (std::string("in.") + format);
    const std::string out = folder_ / (std::string("out/in.") + format);
    const ToolOutcome set = tool({"set", in});
    ASSERT_TRUE(set.succeeded()) << set.err;
    EXPECT_EQ(set.out, "stored 37 x 23, 851 bytes from " + in + "\n");
    const ToolOutcome get = tool({"get", out});
    ASSERT_TRUE(get.succeeded()) << get.err;
    EXPECT_EQ(fileContent(out), fileContent(in)) << format;
  }
  EXPECT_EQ(fileContent(folder_ / "out/in.pgm"), fileContent(folder_ / "in.pgm"));

  ASSERT_TRUE(tool({"set", "--size", "37x23", folder_ / "in.raw"}).succeeded());
  ASSERT_TRUE(tool({"get", folder_ / "out/in.raw"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "out/in.raw"), image.cells);
}

TEST_F(KorventMapTool, YamlDescriptionRoundTripsThroughTheComponent)
{
  const mapio::GridMap image = randomImage(23, 11, 4);
  std::vector<mapio::MapMetadata> cases(3);
  cases[0].resolution = 0.025;
  cases[0].origin = {-12.5, 3.0, 0.1};
  cases[1].mode = mapio::OccupancyMode::Scale;
  cases[1].negate = true;
  cases[1].origin = {-0.5, -7.25, -3.14159};
  cases[1].occupiedThreshold = 0.7;
  cases[1].freeThreshold = 0.2;
  cases[2].mode = mapio::OccupancyMode::Raw;
  cases[2].resolution = 0.1;
  cases[2].origin = {100.0, -200.0, 1.5707963267949};
  ::mkdir((folder_ / "out").c_str(), 0700);
  std::optional<std::uint64_t> version;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string name = "map" + std::to_string(i) + ".yaml";
    mapio::MapWriteOptions options;
    options.metadata = cases[i];
    mapio::writeMapFile(folder_ / name, image, options);
    const ToolOutcome set = tool({"set", "--frame", "site", folder_ / name});
    ASSERT_TRUE(set.succeeded()) << set.err;
    const ToolOutcome get = tool({"get", folder_ / ("out/" + name)});
    ASSERT_TRUE(get.succeeded()) << get.err;
    EXPECT_EQ(fileContent(folder_ / name), fileContent(folder_ / ("out/" + name))) << name;

    // One version per set: cells and description came together.
    const nlohmann::json info = nlohmann::json::parse(tool({"info", "--json"}).out);
    const std::uint64_t now = info.at("version").get<std::uint64_t>();
    if (version) {
      EXPECT_EQ(now, *version + 1);
    }
    version = now;
    EXPECT_TRUE(info.at("stored_at").is_string());
    EXPECT_EQ(info.at("description").at("frame"), "site");
    EXPECT_EQ(info.at("description").at("origin").at(2).get<double>(), cases[i].origin[2]);
    EXPECT_EQ(info.at("description").at("mode"), mapio::nameOf(cases[i].mode));
  }

  // Options still override what is stored.
  ASSERT_TRUE(tool({"get", "--resolution", "0.5", "--origin", "1,-2,0.25", folder_ / "over.yaml"}).succeeded());
  const mapio::MapMetadata over = mapio::readMapYaml(folder_ / "over.yaml");
  EXPECT_EQ(over.resolution, 0.5);
  EXPECT_EQ(over.origin, (std::array<double, 3>{1.0, -2.0, 0.25}));
  EXPECT_EQ(over.mode, mapio::OccupancyMode::Raw);

  // An image of the same size keeps the description; one of another size
  // keeps it unconfirmed, and get still writes it.
  writeFile(folder_ / "same.pgm", mapio::encodePgm(image));
  ASSERT_TRUE(tool({"set", folder_ / "same.pgm"}).succeeded());
  EXPECT_EQ(nlohmann::json::parse(tool({"info", "--json"}).out).at("description_confirmed"), true);
  writeFile(folder_ / "other.pgm", mapio::encodePgm(randomImage(5, 5, 5)));
  ASSERT_TRUE(tool({"set", folder_ / "other.pgm"}).succeeded());
  const nlohmann::json unconfirmed = nlohmann::json::parse(tool({"info", "--json"}).out);
  EXPECT_EQ(unconfirmed.at("description_confirmed"), false);
  EXPECT_EQ(unconfirmed.at("description").at("resolution").get<double>(), 0.1);
  EXPECT_NE(tool({"info"}).out.find("(unconfirmed"), std::string::npos);
  ASSERT_TRUE(tool({"get", folder_ / "kept.yaml"}).succeeded());
  EXPECT_EQ(mapio::readMapYaml(folder_ / "kept.yaml").origin, cases[2].origin);
}

TEST_F(KorventMapTool, RegionSetAtAndGetRegionMoveOnlyTheRectangle)
{
  const mapio::GridMap whole = randomImage(300, 270, 2);
  const mapio::GridMap patch = randomImage(20, 10, 3);
  writeFile(folder_ / "whole.pgm", mapio::encodePgm(whole));
  writeFile(folder_ / "patch.png", mapio::encodePng(patch, "patch.png"));
  ASSERT_TRUE(tool({"set", folder_ / "whole.pgm"}).succeeded());

  // The far corner: x 280..299, y 260..269.
  const ToolOutcome set = tool({"set", "--at", "280,260", folder_ / "patch.png"});
  ASSERT_TRUE(set.succeeded()) << set.err;
  const std::string written = set.out.substr(set.out.rfind(' ') + 1);
  EXPECT_EQ(set.out, "stored 20 x 10 at 280,260 from " + folder_ / "patch.png" + ", version " + written);
  EXPECT_EQ(written.find_first_not_of("0123456789\n"), std::string::npos) << set.out;
  const ToolOutcome get = tool({"get", "--region", "279,260,21,10", folder_ / "got.pgm"});
  ASSERT_TRUE(get.succeeded()) << get.err;
  const mapio::GridMap got = mapio::decodePgm(fileContent(folder_ / "got.pgm"), "got.pgm");
  ASSERT_EQ(21, got.width);
  ASSERT_EQ(10, got.height);
  for (int row = 0; row < 10; ++row) {
    EXPECT_EQ(whole.cells[(260 + row) * 300 + 279], got.cells[row * 21]);
    EXPECT_EQ(patch.cells.substr(row * 20, 20), got.cells.substr(row * 21 + 1, 20));
  }

  // Past the edge: one line, and the stored map is as it was.
  const std::string before = storedInfo();
  EXPECT_TRUE(tool({"set", "--at", "281,260", folder_ / "patch.png"}).failedWithOneLine());
  const ToolOutcome outside = tool({"get", "--region", "0,0,301,1", folder_ / "no.pgm"});
  EXPECT_TRUE(outside.failedWithOneLine()) << outside.err;
  EXPECT_NE(std::string::npos, outside.err.find("not inside the 300 x 270 map")) << outside.err;
  EXPECT_EQ(before, storedInfo());
}

TEST_F(KorventMapTool, PlainPgmAndForeignYamlKeepTheirCells)
{
  writeFile(folder_ / "plain.pgm", "P2\n# by hand\n3 2\n255\n0 128 255\n1 2 3\n");
  ASSERT_TRUE(tool({"set", folder_ / "plain.pgm"}).succeeded());
  ASSERT_TRUE(tool({"get", folder_ / "binary.pgm"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "binary.pgm"), std::string("P5\n3 2\n255\n\x00\x80\xff\x01\x02\x03", 17));

  // A YAML in another folder than its image, with keys in another order.
  ::mkdir((folder_ / "maps").c_str(), 0700);
  writeFile(folder_ / "maps/site.yaml", "origin: [-1.0, -2.0, 0.0]\nresolution: 0.1\nimage: ../plain.pgm\n");
  ASSERT_TRUE(tool({"set", folder_ / "maps/site.yaml"}).succeeded());
  ASSERT_TRUE(tool({"get", folder_ / "again.pgm"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "again.pgm"), fileContent(folder_ / "binary.pgm"));

  // The service keeps no resolution or origin: get writes what it is told.
  ASSERT_TRUE(tool({"get", "--resolution", "0.1", "--origin", "1.5,-2,0.25", folder_ / "told.yaml"}).succeeded());
  const std::string yaml = fileContent(folder_ / "told.yaml");
  EXPECT_NE(yaml.find("resolution: 0.1\n"), std::string::npos) << yaml;
  EXPECT_NE(yaml.find("origin: [1.5, -2, 0.25]\n"), std::string::npos) << yaml;
  EXPECT_EQ(WEXITSTATUS(tool({"get", "--origin", "1,2,3,4", folder_ / "four.yaml"}).status), 2);
}

TEST_F(KorventMapTool, OccupancyStoresBottomRowFirstAndConvertsBack)
{
  // Top row: free, occupied; bottom row: unknown, free.
  writeFile(folder_ / "grid.pgm", std::string("P5\n2 2\n255\n\xfe\x00\xcd\xfe", 15));
  writeFile(folder_ / "grid.yaml", "image: grid.pgm\nresolution: 0.05\norigin: [0, 0, 0]\n");
  ASSERT_TRUE(tool({"set", "--occupancy", folder_ / "grid.yaml"}).succeeded());
  ASSERT_TRUE(tool({"get", folder_ / "cells.raw"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "cells.raw"), std::string("\xff\x00\x00\x64", 4));
  EXPECT_NE(storedInfo().find("\"occupancy\": {\"free\": 2, \"occupied\": 1, \"unknown\": 1, \"other\": 0}"),
            std::string::npos);

  ASSERT_TRUE(tool({"get", "--occupancy", folder_ / "back.pgm"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "back.pgm"), fileContent(folder_ / "grid.pgm"));

  // Negated: the same cells from the inverted image.
  writeFile(folder_ / "neg.pgm", std::string("P5\n2 2\n255\n\x01\xff\x32\x01", 15));
  writeFile(folder_ / "neg.yaml", "image: neg.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nnegate: 1\n");
  ASSERT_TRUE(tool({"set", "--occupancy", folder_ / "neg.yaml"}).succeeded());
  ASSERT_TRUE(tool({"get", folder_ / "neg.raw"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "neg.raw"), fileContent(folder_ / "cells.raw"));
}

TEST_F(KorventMapTool, BadInputsFailWithOneLineAndChangeNothing)
{
  writeFile(folder_ / "good.pgm", "P5\n2 1\n255\nab");
  ASSERT_TRUE(tool({"set", folder_ / "good.pgm"}).succeeded());
  const std::string before = storedInfo();

  writeFile(folder_ / "malformed.yaml", "image: [x\n");
  writeFile(folder_ / "noimage.yaml", "image: missing.pgm\nresolution: 0.05\norigin: [0, 0, 0]\n");
  const std::uint16_t deep[4] = {1, 2, 3, 4};
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = png.height = 2;
  png.format = PNG_FORMAT_LINEAR_Y;
  ASSERT_TRUE(png_image_write_to_file(&png, (folder_ / "deep.png").c_str(), 0, deep, 0, nullptr));
  const int huge = ::open((folder_ / "huge.raw").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(::ftruncate(huge, off_t(4) << 30), 0);
  ::close(huge);

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
    {{"set", folder_ / "malformed.yaml"}, "malformed map YAML"},
    {{"set", folder_ / "noimage.yaml"}, "cannot read: No such file or directory (" + folder_.path() + "/missing.pgm)"},
    {{"set", folder_ / "deep.png"}, "unsupported PNG: 16-bit greyscale"},
    {{"set", "--size", "65536x1", folder_ / "huge.raw"}, "width 65536 does not fit a signed 16-bit value"},
    {{"set", "--size", "1x1", "--force", folder_ / "huge.raw"}, "file is 4 GiB or larger"},
    {{"set", "--size", "2x-x", folder_ / "good.pgm"}, "height '-x' is not a whole number (--size)"},
    {{"set", "--size", "3x3", folder_ / "good.pgm"}, "not 3 x 3; --force stores it anyway"},
    {{"set", folder_ / "absent.pgm"}, "cannot read: No such file or directory"},
    {{"set", folder_ / "good.txt"}, "unknown map format"},
  };
  for (const auto& [args, mention] : cases) {
    const ToolOutcome outcome = tool(args);
    EXPECT_TRUE(outcome.failedWithOneLine()) << args[1] << ": " << outcome.status << " " << outcome.err;
    EXPECT_NE(outcome.err.find(mention), std::string::npos) << outcome.err;
  }
  EXPECT_EQ(storedInfo(), before);

  // Output that cannot be written: one line, and no file left anywhere.
  const ToolOutcome unwritable = tool({"get", folder_ / "no/such/folder/out.pgm"});
  EXPECT_TRUE(unwritable.failedWithOneLine()) << unwritable.err;
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
  const std::vector<std::string> expected{"deep.png", "good.pgm", "huge.raw", "malformed.yaml", "noimage.yaml"};
  EXPECT_EQ(folder_.entries(), expected);
}

TEST_F(KorventMapTool, UnreachablePeersAndLimitsAreNamed)
{
  const ToolOutcome noNames = runKorventMap("127.0.0.1:1", {"info"});
  EXPECT_TRUE(noNames.failedWithOneLine()) << noNames.err;
  EXPECT_EQ(noNames.err, "korvent-map: cannot reach the name service (127.0.0.1:1)\n");

  // A name server that accepts the connection and never answers: the call
  // timeout ends the wait.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string silentAddress = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const ToolOutcome stalled = runKorventMap(silentAddress, {"--timeout", "0.5", "info"});
  ::close(silent);
  EXPECT_TRUE(stalled.failedWithOneLine()) << stalled.err;
  EXPECT_EQ(stalled.err, "korvent-map: cannot reach the name service: no answer within 500 ms; --timeout sets how "
                        "long to wait (" + silentAddress + ")\n");

  const ToolOutcome noComponent = tool({"-c", "nobody.host_cxt/Nothing0.rtc", "info"});
  EXPECT_TRUE(noComponent.failedWithOneLine()) << noComponent.err;
  EXPECT_NE(noComponent.err.find("no component named nobody.host_cxt/Nothing0.rtc"), std::string::npos);

  writeFile(folder_ / "big.raw", std::string(3u << 20, '\x7f'));
  const ToolOutcome tooBig = tool({"--max-message", "2097152", "set", "--size", "2048x1536", folder_ / "big.raw"});
  EXPECT_TRUE(tooBig.failedWithOneLine()) << tooBig.err;
  EXPECT_NE(tooBig.err.find("exceeds korvent-map's message size limit"), std::string::npos) << tooBig.err;
  EXPECT_NE(tooBig.err.find("-ORBgiopMaxMsgSize"), std::string::npos) << tooBig.err;

  const ToolOutcome notANumber = tool({"--timeout", "soon", "info"});
  EXPECT_EQ(WEXITSTATUS(notANumber.status), 2);
  EXPECT_EQ(std::count(notANumber.err.begin(), notANumber.err.end(), '\n'), 1) << notANumber.err;
}

TEST_F(KorventMapTool, LargeTransfersReportTheirRateUnlessQuiet)
{
  writeFile(folder_ / "big.raw", std::string(8u << 20, '\x01'));
  const ToolOutcome loud = tool({"set", "--size", "4096x2048", folder_ / "big.raw"});
  ASSERT_TRUE(loud.succeeded()) << loud.err;
  EXPECT_NE(loud.err.find("korvent-map: sent 8.0 MiB in "), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find(" MB/s)"), std::string::npos) << loud.err;
  const ToolOutcome quiet = tool({"-q", "get", folder_ / "back.raw"});
  ASSERT_TRUE(quiet.succeeded()) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(fileContent(folder_ / "back.raw"), fileContent(folder_ / "big.raw"));
}

TEST_F(KorventMapToolSmallMessages, MapOverKorventCompsLimitSaysHowToRaiseIt)
{
  writeFile(folder_ / "big.raw", std::string(3u << 20, '\x7f'));
  const ToolOutcome outcome = tool({"set", "--size", "2048x1536", folder_ / "big.raw"});
  EXPECT_TRUE(outcome.failedWithOneLine()) << outcome.err;
  EXPECT_NE(outcome.err.find("KorventComp's message size limit"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("--max-message"), std::string::npos) << outcome.err;
  EXPECT_NE(storedInfo().find("\"bytes\": 0"), std::string::npos);
}

TEST_F(KorventMapTool, MapThatIsNoImageIsSavedRawWithAWarning)
{
  writeFile(folder_ / "odd.raw", "abc");
  ASSERT_TRUE(tool({"set", "--size", "5x5", "--force", folder_ / "odd.raw"}).succeeded());
  const ToolOutcome get = tool({"get", folder_ / "odd.png"});
  ASSERT_TRUE(get.succeeded()) << get.err;
  EXPECT_EQ(get.err, "korvent-map: warning: the stored map's 3 bytes are not an image of 5 x 5; saved raw (" +
                       (folder_ / "odd.png") + ")\n");
  EXPECT_EQ(fileContent(folder_ / "odd.png"), "abc");
  EXPECT_NE(storedInfo().find("\"size_agrees\": false"), std::string::npos);
}

TEST_F(KorventMapTool, ReferenceReplacesTheNameServer)
{
  const mapio::GridMap image = randomImage(41, 17, 2);
  writeFile(folder_ / "in.pgm", mapio::encodePgm(image));
  CORBA::Object_var object = names_.resolve(korventName());
  CORBA::String_var ior = clientOrb()->object_to_string(object);

  const ToolOutcome set = runKorventMapWith({"--ior", ior.in(), "set", folder_ / "in.pgm"});
  ASSERT_TRUE(set.succeeded()) << set.err;
  const std::string byName = "corbaname::" + names_.address() + "#" + korventName();
  const ToolOutcome get = runKorventMapWith({"--ior", byName, "get", folder_ / "out.pgm"});
  ASSERT_TRUE(get.succeeded()) << get.err;
  EXPECT_EQ(fileContent(folder_ / "out.pgm"), fileContent(folder_ / "in.pgm"));

  // A reference and a name server at once is a command-line error.
  const ToolOutcome both = tool({"--ior", ior.in(), "info"});
  EXPECT_EQ(WEXITSTATUS(both.status), 2) << both.err;
  const ToolOutcome nothing = runKorventMapWith({"--ior", "corbaloc::127.0.0.1:1/Korvent0", "info"});
  EXPECT_TRUE(nothing.failedWithOneLine()) << nothing.err;
  EXPECT_NE(nothing.err.find("(corbaloc::127.0.0.1:1/Korvent0)"), std::string::npos) << nothing.err;
}

TEST_F(KorventMapToolCompressed, OnTheComponentsHostNothingIsCompressedAndMapsAreIdenticalEitherWay)
{
  const std::size_t width = 4096, height = 2048;
  writeFile(folder_ / "map.raw", occupancyLike(width, height));
  const std::string size = std::to_string(width) + "x" + std::to_string(height);

  // -ORBtraceLevel goes to the ORB, whose trace tells what it compressed.
  // Compression is on at both ends, but copying beats it on one computer
  // (other hosts are compressed: see the network test).
  const ToolOutcome compressed = tool({"-q", "-ORBtraceLevel", "25", "set", "--size", size, folder_ / "map.raw"});
  ASSERT_TRUE(compressed.succeeded()) << compressed.err.substr(0, 2000);
  EXPECT_EQ(compressedMessages(compressed.err), 0u);
  ASSERT_TRUE(tool({"-q", "get", folder_ / "back.raw"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "back.raw"), fileContent(folder_ / "map.raw"));

  const ToolOutcome plain =
    tool({"-q", "--no-compress", "-ORBtraceLevel", "25", "set", "--size", size, folder_ / "map.raw"});
  ASSERT_TRUE(plain.succeeded()) << plain.err.substr(0, 2000);
  EXPECT_EQ(compressedMessages(plain.err), 0u);
  ASSERT_TRUE(tool({"-q", "--no-compress", "get", folder_ / "plain.raw"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "plain.raw"), fileContent(folder_ / "map.raw"));

  const ToolOutcome nine = tool({"-q", "--compress-level", "9", "get", folder_ / "nine.raw"});
  ASSERT_TRUE(nine.succeeded()) << nine.err;
  EXPECT_EQ(nine.err, "");
  EXPECT_EQ(fileContent(folder_ / "nine.raw"), fileContent(folder_ / "map.raw"));
  const ToolOutcome outOfRange = tool({"--compress-level", "10", "info"});
  EXPECT_EQ(WEXITSTATUS(outOfRange.status), 2) << outOfRange.err;
}

TEST_F(KorventMapToolTls, OnlyTrustedClientsGetThroughAndOthersChangeNothing)
{
  const mapio::GridMap image = randomImage(29, 31, 3);
  writeFile(folder_ / "in.pgm", mapio::encodePgm(image));
  const ToolOutcome set = tool({"set", folder_ / "in.pgm"});
  ASSERT_TRUE(set.succeeded()) << set.err;
  EXPECT_EQ(set.err, "");
  ASSERT_TRUE(tool({"get", folder_ / "out.pgm"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "out.pgm"), fileContent(folder_ / "in.pgm"));
  const std::string before = storedInfo();

  writeFile(folder_ / "other.pgm", mapio::encodePgm(randomImage(3, 3, 4)));
  const std::vector<std::vector<std::string>> refused{
    {"set", folder_ / "other.pgm"},
    {"--ca", trusted_.authorityFile(), "--cert", stranger_.certificateFor("intruder"), "set", folder_ / "other.pgm"},
  };
  for (const std::vector<std::string>& args : refused) {
    const ToolOutcome outcome = runKorventMap(names_.address(), args);
    EXPECT_TRUE(outcome.failedWithOneLine()) << outcome.status << " " << outcome.err;
    EXPECT_NE(outcome.err.find("does not answer"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("TLS"), std::string::npos) << outcome.err;
  }
  EXPECT_EQ(storedInfo(), before);
}
