// The web view's page in a real headless Chromium: it draws the stored map
// where the cells belong, and follows a new map without being reloaded.
#include "GridMapClient.h"
#include "HeadlessBrowser.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "WebView.h"

#include "mapio/MapFile.h"

#include <korvent/Client.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

using namespace std::chrono_literals;

namespace
{
  struct Comparison
  {
    long checked = 0;     // screen pixels inside a cell, away from its edges
    long walls = 0;       // of them, on occupied (black) cells
    long mismatched = 0;  // of them, not the cell's grey
  };

  // Every screen pixel whose centre lies well inside one cell must show
  // that cell's grey, at the place the page says it draws the map.
  Comparison compare(const DecodedPng& shot, const nlohmann::json& layout, const mapio::GridMap& map)
  {
    const double scale = layout.at("view").at("scale"), left = layout.at("view").at("x");
    const double top = layout.at("view").at("y").get<double>() + layout.at("top").get<double>();
    Comparison result;
    for (int py = 0; py < shot.height; ++py)
      for (int px = 0; px < shot.width; ++px) {
        const double cx = (px + 0.5 - left) / scale, cy = (py + 0.5 - top) / scale;
        if (cx < 0 || cy < 0 || cx >= map.width || cy >= map.height)
          continue;
        const double edge = 0.75 / scale;  // fraction of a cell within which a pixel may blend
        if (cx - std::floor(cx) < edge || std::ceil(cx) - cx < edge || cy - std::floor(cy) < edge ||
            std::ceil(cy) - cy < edge)
          continue;
        const auto cell = static_cast<unsigned char>(map.cells[std::size_t(cy) * map.width + std::size_t(cx)]);
        const std::size_t at = (std::size_t(py) * shot.width + px) * 3;
        ++result.checked;
        result.walls += cell == 0;
        for (int channel = 0; channel < 3; ++channel)
          if (std::abs(static_cast<unsigned char>(shot.pixels[at + channel]) - int(cell)) > 2) {
            ++result.mismatched;
            break;
          }
      }
    return result;
  }

  void store(RunningKorvent& korvent, const mapio::GridMap& map)
  {
    korvent.service->setGridMap(map.width, map.height,
                                makeMap(std::vector<CORBA::Octet>(map.cells.begin(), map.cells.end())));
  }

  // Whether the page has drawn the map stored now.
  bool drawn(HeadlessBrowser& browser, RunningKorvent& korvent)
  {
    return browser.evaluate("document.body.dataset.drawn") == std::to_string(korvent.region->shape().version);
  }
}

TEST(WebViewInBrowser, DrawsTheStoredMapAndFollowsANewOneWithoutReload)
{
  if (!HeadlessBrowser::available())
    GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  RunningKorvent korvent{webViewArgs()};
  const std::string address = webViewAddress(*korvent.process);
  const mapio::GridMap sample = mapio::readMapFile(KORVENT_SOURCE_DIR "/examples/sample.pgm", false);
  store(korvent, sample);

  HeadlessBrowser browser(800, 600);
  browser.open("http://" + address + "/");
  ASSERT_TRUE(waitFor([&] { return drawn(browser, korvent); }, 60s)) << browser.evaluate("document.body.innerText");
  const std::string shot = browser.screenshot();
  const Comparison first = compare(decodeRgbPng(shot), browser.evaluate("korventView()"), sample);
  EXPECT_GT(first.checked, 100000);  // the map fills most of the 800 x 600 view
  EXPECT_GT(first.walls, 5000);
  EXPECT_EQ(first.mismatched, 0);
  EXPECT_NE(browser.evaluate("document.getElementById('bar').innerText").get<std::string>().find("38,400"),
            std::string::npos);
  // The picture in docs/web-view.md comes from here.
  if (const char* keep = std::getenv("KORVENT_WEB_SCREENSHOT"))
    std::ofstream(keep, std::ios::binary) << shot;

  // Another map, of another size: the same page, never reloaded, shows it.
  browser.evaluate("window.notReloaded = true");
  mapio::GridMap next{90, 120, std::string(90 * 120, '\xfe')};
  for (int row = 0; row < 120; ++row)
    next.cells[std::size_t(row) * 90 + row * 3 / 4] = '\0';
  store(korvent, next);
  ASSERT_TRUE(waitFor([&] { return drawn(browser, korvent); }, 30s)) << browser.evaluate("document.body.innerText");
  EXPECT_EQ(browser.evaluate("window.notReloaded"), true);
  const Comparison second = compare(decodeRgbPng(browser.screenshot()), browser.evaluate("korventView()"), next);
  EXPECT_GT(second.checked, 50000);
  EXPECT_GT(second.walls, 500);
  EXPECT_EQ(second.mismatched, 0);
}

namespace
{
  // "50 cm", "2 m" or "1 km" in metres.
  double metresIn(const std::string& label)
  {
    const std::size_t blank = label.find(' ');
    const double value = std::stod(label.substr(0, blank));
    const std::string unit = label.substr(blank + 1);
    return unit == "cm" ? value / 100 : unit == "km" ? value * 1000 : value;
  }

  // The page's scale bar must be as long on the screen as the metres it
  // names, at the description's resolution.
  void expectScaleBar(HeadlessBrowser& browser, double resolution)
  {
    const double scale = browser.evaluate("korventView().view.scale");
    const std::string label = browser.evaluate("document.getElementById('scaleLabel').textContent");
    const double pixels = browser.evaluate("document.getElementById('scaleLine').getBoundingClientRect().width - 4");
    const double metres = metresIn(label);
    EXPECT_NEAR(pixels * resolution / scale, metres, metres * 0.01) << label;
    const double leading = metres / std::pow(10.0, std::floor(std::log10(metres) + 1e-9));
    EXPECT_TRUE(std::abs(leading - 1) < 1e-6 || std::abs(leading - 2) < 1e-6 || std::abs(leading - 5) < 1e-6)
      << label;
  }

  // Moves the pointer onto the spot `u` cells from the map's left edge and
  // `v` from its top, and returns what the page says is under it.
  std::string pointerAt(HeadlessBrowser& browser, double u, double v)
  {
    char script[400];
    std::snprintf(script, sizeof script,
                  "(() => { const k = korventView(), r = document.getElementById('map').getBoundingClientRect();"
                  " document.getElementById('map').dispatchEvent(new PointerEvent('pointermove', {bubbles: true,"
                  " clientX: r.left + k.view.x + %f * k.view.scale, clientY: r.top + k.view.y + %f * k.view.scale}));"
                  " return document.getElementById('pointer').textContent; })()",
                  u, v);
    return browser.evaluate(script);
  }

  std::string expectedPointer(double x, double y, const char* frame, int column, int row)
  {
    char text[160];
    std::snprintf(text, sizeof text, "x %.3f m, y %.3f m in %s, cell %d,%d", x, y, frame, column, row);
    return text;
  }
}

TEST(WebViewInBrowser, ShowsMetresInTheFrameAndFollowsANewDescription)
{
  if (!HeadlessBrowser::available())
    GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
  RunningKorvent korvent{webViewArgs()};
  const std::string address = webViewAddress(*korvent.process);
  korvent::Client client = korvent::Client::atNameServer(korvent.names.address());
  const std::vector<std::uint8_t> cells(200 * 100, 254);
  korvent::MapDescription described;
  described.resolution = 0.05;
  described.originX = -2.5;
  described.originY = 1.0;
  described.frame = "lab";
  client.setDescribedMap(200, 100, cells.data(), cells.size(), described);

  HeadlessBrowser browser(800, 600);
  browser.open("http://" + address + "/");
  ASSERT_TRUE(waitFor([&] { return drawn(browser, korvent); }, 60s)) << browser.evaluate("document.body.innerText");
  expectScaleBar(browser, 0.05);
  // Cell 50,20 counts rows from the top; the frame's y from the bottom edge.
  EXPECT_EQ(pointerAt(browser, 50.5, 20.5), expectedPointer(-2.5 + 50.5 * 0.05, 1.0 + 79.5 * 0.05, "lab", 50, 20));

  // Turned a quarter about an origin inside the view, at twice the
  // resolution: the same page, never reloaded, follows.
  browser.evaluate("window.notReloaded = true");
  described.resolution = 0.1;
  described.originX = 2.0;
  described.originY = -5.0;
  described.originYaw = M_PI / 2;
  described.frame = "site";
  client.setDescription(described);
  ASSERT_TRUE(waitFor([&] { return drawn(browser, korvent); }, 30s)) << browser.evaluate("document.body.innerText");
  EXPECT_EQ(browser.evaluate("window.notReloaded"), true);
  expectScaleBar(browser, 0.1);
  // Local (5.05, 7.95) m turned by 90 degrees: (-7.95, 5.05) from the origin.
  EXPECT_EQ(pointerAt(browser, 50.5, 20.5), expectedPointer(2.0 - 7.95, -5.0 + 5.05, "site", 50, 20));
  EXPECT_NE(browser.evaluate("document.getElementById('resolution').textContent").get<std::string>().find("10 cm"),
            std::string::npos);

  // The frame's (0, 0) lies at local (5, 2) m, cell 50,80 from the top.
  const nlohmann::json at = browser.evaluate(
    "(() => { const k = korventView(), p = cellPoint(0, 0); return {x: k.view.x + p.u * k.view.scale,"
    " y: k.view.y + p.v * k.view.scale + k.top}; })()");
  const DecodedPng shot = decodeRgbPng(browser.screenshot());
  const int ox = static_cast<int>(at.at("x").get<double>()), oy = static_cast<int>(at.at("y").get<double>());
  EXPECT_EQ(browser.evaluate("(() => { const p = cellPoint(0, 0); return [p.u, p.v].map(Math.round); })()"),
            nlohmann::json::parse("[50, 80]"));
  // Yaw 90 degrees: the frame's x axis points down the screen from its origin.
  bool red = false;
  for (int dy = 10; dy <= 30 && !red; ++dy)
    for (int dx = -2; dx <= 2 && !red; ++dx) {
      const int px = ox + dx, py = oy + dy;
      if (px < 0 || py < 0 || px >= shot.width || py >= shot.height)
        continue;
      const std::size_t i = (std::size_t(py) * shot.width + px) * 3;
      red = static_cast<unsigned char>(shot.pixels[i]) > 180 && static_cast<unsigned char>(shot.pixels[i + 1]) < 120;
    }
  EXPECT_TRUE(red) << "no red x axis below " << ox << "," << oy;
}
