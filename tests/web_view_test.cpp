// The web view of a real KorventComp: each route's status, type and
// content (images decoded and compared with the stored cells), maps that
// have no image, bad requests, exposure and stopping.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TestCertificates.h"
#include "WebView.h"

#include "mapio/MapSummary.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  std::vector<CORBA::Octet> randomCells(int width, int height, unsigned seed)
  {
    std::mt19937 random(seed);
    std::vector<CORBA::Octet> cells(std::size_t(width) * height);
    for (CORBA::Octet& cell : cells)
      cell = static_cast<CORBA::Octet>(random() & 0xff);
    return cells;
  }

  // The darkest cell of each square of `step` x `step` cells: what a
  // coarser tile's pixel shows.
  std::string expectedTile(const std::vector<CORBA::Octet>& cells, int width, int height, int level, int top, int x, int y)
  {
    const int step = 1 << (top - level), span = 256 * step;
    const int right = std::min(width, (x + 1) * span), bottom = std::min(height, (y + 1) * span);
    const int columns = (right - x * span + step - 1) / step, rows = (bottom - y * span + step - 1) / step;
    std::string pixels(std::size_t(columns) * rows, '\xff');
    for (int row = y * span; row < bottom; ++row)
      for (int column = x * span; column < right; ++column) {
        char& pixel = pixels[std::size_t((row - y * span) / step) * columns + (column - x * span) / step];
        pixel = static_cast<char>(std::min<unsigned char>(static_cast<unsigned char>(pixel),
                                                         cells[std::size_t(row) * width + column]));
      }
    return pixels;
  }

  class WebView : public ::testing::Test
  {
  protected:
    WebView() : address_(webViewAddress(*korvent_.process)), http_("http://" + address_)
    {
      http_.set_connection_timeout(10);
      http_.set_read_timeout(60);
      // The component must also stop while a browser holds a connection open.
      http_.set_keep_alive(true);
    }

    ~WebView() override
    {
      std::optional<int> status = korvent_.process->stop(SIGTERM, 30s);
      EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << korvent_.process->errorOutput();
    }

    void store(int width, int height, const std::vector<CORBA::Octet>& cells)
    {
      korvent_.service->setGridMap(static_cast<CORBA::Short>(width), static_cast<CORBA::Short>(height), makeMap(cells));
    }

    // The body of a GET that must answer 200 with `type`.
    std::string body(const std::string& path, const std::string& type)
    {
      httplib::Result result = http_.Get(path.c_str());
      if (!result) {
        ADD_FAILURE() << path << ": no answer";
        return "";
      }
      EXPECT_EQ(result->status, 200) << path << ": " << result->body;
      EXPECT_EQ(result->get_header_value("Content-Type").rfind(type, 0), 0u) << path;
      return result->body;
    }

    int status(const std::string& path)
    {
      httplib::Result result = http_.Get(path.c_str());
      return result ? result->status : -1;
    }

    RunningKorvent korvent_{webViewArgs()};
    std::string address_;
    httplib::Client http_;
  };
}

TEST_F(WebView, RoutesAnswerWithTheirTypesAndTheStoredCells)
{
  const int width = 700, height = 500;
  std::vector<CORBA::Octet> cells = randomCells(width, height, 7);
  // Occupancy values, free, occupied and unknown among them, for the colours.
  for (int i = 0; i < 256; ++i)
    cells[i] = static_cast<CORBA::Octet>(i);
  store(width, height, cells);
  const std::string asText(cells.begin(), cells.end());

  const std::string page = body("/", "text/html");
  EXPECT_NE(page.find("<canvas"), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos) << "the page must need no other site";

  const std::string status = body("/status.json", "application/json");
  EXPECT_NE(status.find("\"width\": 700, \"height\": 500, \"bytes\": 350000, \"size_agrees\": true"), std::string::npos)
      << status;
  EXPECT_NE(status.find("\"version\": " + std::to_string(korvent_.region->shape().version) + ","), std::string::npos)
      << status;
  EXPECT_NE(status.find("\"top_level\": 2,"), std::string::npos) << status;
  const std::string info = body("/info.json", "application/json");
  EXPECT_NE(info.find(mapio::MapSummary({width, height, asText}).jsonMembers()), std::string::npos) << info;

  const DecodedPng whole = decodeGreyPng(body("/map.png", "image/png"));
  EXPECT_EQ(whole.width, width);
  EXPECT_EQ(whole.height, height);
  EXPECT_TRUE(whole.pixels == asText);

  // Occupancy rows are bottom first: the image's top row is the last one.
  const DecodedPng colours = decodeRgbPng(body("/map.png?occupancy=1", "image/png"));
  ASSERT_EQ(colours.pixels.size(), std::size_t(width) * height * 3);
  for (int value : {0, 37, 100, 101, 254, 255}) {
    const std::size_t pixel = (std::size_t(height - 1) * width + value) * 3;
    const auto red = static_cast<unsigned char>(colours.pixels[pixel]);
    const auto green = static_cast<unsigned char>(colours.pixels[pixel + 1]);
    const auto blue = static_cast<unsigned char>(colours.pixels[pixel + 2]);
    if (value <= 100)
      EXPECT_TRUE(red == green && green == blue && red == 255 - value * 255 / 100) << value;
    else if (value == 255)
      EXPECT_TRUE(blue > red && red > 100) << value << ": unknown is blue-grey";
    else
      EXPECT_TRUE(red == 255 && green == 0 && blue == 255) << value << ": no occupancy value, magenta";
  }

  // Full resolution at the top level, the edge tile cut to the map, and
  // the overview keeping the darkest cell of each square.
  for (auto [level, x, y] : {std::tuple{2, 0, 0}, {2, 2, 1}, {1, 1, 0}, {0, 0, 0}}) {
    const std::string path = "/tiles/" + std::to_string(level) + "/" + std::to_string(x) + "/" + std::to_string(y) + ".png";
    const DecodedPng tile = decodeGreyPng(body(path, "image/png"));
    const std::string expected = expectedTile(cells, width, height, level, 2, x, y);
    EXPECT_EQ(std::size_t(tile.width) * tile.height, expected.size()) << path;
    EXPECT_TRUE(tile.pixels == expected) << path;
  }
  EXPECT_EQ(decodeGreyPng(body("/tiles/2/2/1.png", "image/png")).width, 700 - 512);
}

TEST_F(WebView, BadPathsAndParametersAreRefusedWithoutHarm)
{
  const std::vector<CORBA::Octet> cells = randomCells(300, 200, 3);
  store(300, 200, cells);
  for (const char* path : {"/nothing", "/tiles/2/0/0.png", "/tiles/0/1/0.png", "/tiles/a/0/0.png",
                           "/tiles/0/0/99999999999.png", "/tiles/0/0/0.jpg", "/map.png/../info.json"})
    EXPECT_EQ(status(path), 404) << path;
  for (const char* path : {"/map.png?occupancy=2", "/map.png?v=abc", "/map.png?colour=red", "/tiles/0/0/0.png?v=-1"})
    EXPECT_EQ(status(path), 400) << path;

  // No method can write: whatever the answer, it is no success.
  for (const char* path : {"/", "/map.png", "/tiles/0/0/0.png"}) {
    httplib::Result posted = http_.Post(path, "garbage", "image/png");
    ASSERT_TRUE(posted);
    EXPECT_GE(posted->status, 400) << path;
    httplib::Result put = http_.Put(path, "garbage", "image/png");
    ASSERT_TRUE(put);
    EXPECT_GE(put->status, 400) << path;
  }
  httplib::Result huge = http_.Post("/map.png", std::string(1 << 20, 'x'), "image/png");
  EXPECT_TRUE(!huge || huge->status >= 400);

  RTC::TimedOctetSeq after;
  CORBA::Short width = 0, height = 0;
  korvent_.service->getGridMap(width, height, after);
  EXPECT_EQ(width, 300);
  EXPECT_EQ(height, 200);
  EXPECT_TRUE(octetsOf(after) == cells);
  EXPECT_EQ(status("/status.json"), 200);
  EXPECT_EQ(decodeGreyPng(body("/map.png", "image/png")).pixels, std::string(cells.begin(), cells.end()));
}

TEST_F(WebView, AMapWithoutAnImageIsExplainedNotDrawn)
{
  EXPECT_NE(body("/status.json", "application/json").find("\"no_image\": \"no map has been stored yet\""),
            std::string::npos);
  EXPECT_EQ(status("/map.png"), 409);

  store(10, 10, std::vector<CORBA::Octet>(50, 0));
  const std::string state = body("/status.json", "application/json");
  EXPECT_NE(state.find("\"size_agrees\": false"), std::string::npos) << state;
  EXPECT_NE(state.find("holds 50 bytes, which is not width x height (10 x 10)"), std::string::npos) << state;
  EXPECT_NE(body("/info.json", "application/json").find("\"crc32\""), std::string::npos);
  httplib::Result image = http_.Get("/map.png?occupancy=1");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 409);
  EXPECT_NE(image->body.find("not width x height"), std::string::npos);
  EXPECT_EQ(status("/tiles/0/0/0.png"), 409);

  store(4, 2, std::vector<CORBA::Octet>(8, 9));
  EXPECT_EQ(decodeGreyPng(body("/map.png", "image/png")).pixels, std::string(8, '\x09'));
}

TEST_F(WebView, TilesOfALargeMapMatchTheirRegion)
{
  const int width = 5000, height = 3000;  // 15 MB: six levels
  const std::vector<CORBA::Octet> cells = randomCells(width, height, 11);
  store(width, height, cells);
  EXPECT_NE(body("/status.json", "application/json").find("\"top_level\": 5,"), std::string::npos);
  for (auto [level, x, y] : {std::tuple{5, 19, 11}, {5, 7, 3}, {4, 9, 5}, {2, 1, 0}, {0, 0, 0}}) {
    const std::string path = "/tiles/" + std::to_string(level) + "/" + std::to_string(x) + "/" + std::to_string(y) + ".png";
    const DecodedPng tile = decodeGreyPng(body(path, "image/png"));
    EXPECT_TRUE(tile.pixels == expectedTile(cells, width, height, level, 5, x, y)) << path;
  }
  EXPECT_EQ(status("/tiles/5/20/0.png"), 404);
}

TEST(WebViewSetup, OffByDefaultAndWarnsOnlyOffTheLoopback)
{
  const std::string exposure = "anyone who can reach these addresses can read the map";
  {
    RunningKorvent plain;
    EXPECT_EQ(plain.process->errorOutput().find("web view"), std::string::npos);
  }
  {
    RunningKorvent loopback{webViewArgs("127.0.0.1:0")};
    webViewAddress(*loopback.process);
    EXPECT_EQ(loopback.process->errorOutput().find(exposure), std::string::npos) << loopback.process->errorOutput();
  }
  {
    RunningKorvent everywhere{webViewArgs("0.0.0.0:0")};
    const std::string address = webViewAddress(*everywhere.process);
    EXPECT_NE(everywhere.process->errorOutput().find("WARN KorventComp: warning: listening on " + address + ": " + exposure),
              std::string::npos)
        << everywhere.process->errorOutput();
  }
  NameServer names;
  names.start();
  using Args = std::vector<std::string>;
  for (const Args& bad : {Args{"-o", "korvent.http.endpoint:nonsense"}, Args{"-o", "korvent.http.endpoint:127.0.0.1:99999"},
                          Args{"-o", "korvent.http.endpoint:127.0.0.1:0", "-o", "korvent.http.render_slots:0"}}) {
    auto component = startKorventComp(names.address(), bad);
    std::optional<int> status = component->wait(20s);
    ASSERT_TRUE(status) << bad.back();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << bad.back();
    EXPECT_NE(component->errorOutput().find("korvent.http."), std::string::npos) << component->errorOutput();
  }
}

TEST(WebViewSetup, ServesHttpsWithTheOrbsCertificatesAndChecksClients)
{
  TestCertificates trusted{"trusted test CA"};
  TestCertificates stranger{"stranger test CA"};
  NameServer names;
  names.start();
  std::vector<std::string> args{"-o", "corba.ssl.mode:mixed", "-o", "corba.ssl.ca_file:" + trusted.authorityFile(),
                                "-o", "corba.ssl.certificate:" + trusted.certificateFor("server")};
  const std::vector<std::string> web = webViewArgs();
  args.insert(args.end(), web.begin(), web.end());
  auto component = startKorventComp(names.address(), args);
  const std::string address = webViewAddress(*component);
  EXPECT_NE(component->errorOutput().find("web view at https://"), std::string::npos);
  const std::string host = address.substr(0, address.rfind(':'));
  const int port = std::stoi(address.substr(address.rfind(':') + 1));

  const std::string client = trusted.certificateFor("browser");
  httplib::SSLClient known(host, port, client, client);
  known.set_ca_cert_path(trusted.authorityFile().c_str());
  known.enable_server_certificate_verification(false);  // issued to a name, reached by address
  httplib::Result answer = known.Get("/status.json");
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200);

  const std::string other = stranger.certificateFor("intruder");
  httplib::SSLClient unknown(host, port, other, other);
  unknown.enable_server_certificate_verification(false);
  EXPECT_FALSE(unknown.Get("/status.json"));
  httplib::SSLClient anonymous(host, port);
  anonymous.enable_server_certificate_verification(false);
  EXPECT_FALSE(anonymous.Get("/status.json"));
  httplib::Client plain("http://" + address);
  httplib::Result plainAnswer = plain.Get("/status.json");
  EXPECT_TRUE(!plainAnswer || plainAnswer->status != 200);

  std::optional<int> status = component->stop(SIGTERM, 30s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component->errorOutput();
}
