// The web view's page in a real headless Chromium: it draws the stored map
// where the cells belong, and follows a new map without being reloaded.
#include "GridMapClient.h"
#include "HeadlessBrowser.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "WebView.h"

#include "mapio/MapFile.h"

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
