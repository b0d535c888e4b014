// How soon the web view's page shows a map in headless Chromium: from the
// page being asked for until every tile in view is drawn, for a 282 MB map
// (20 800 x 13 600, loaded at start-up) beside the 240 x 160 sample map as
// the baseline, measured in the same run.  Also a cold and a cached tile.
// Usage: web_view_bench [width height]
#include "HeadlessBrowser.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"
#include "WebView.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace
{
  using Clock = std::chrono::steady_clock;

  double msSince(Clock::time_point start)
  {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  // A PGM of rooms: free cells with a wall every 400 cells both ways.
  void writeRooms(const std::string& path, int width, int height)
  {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << width << " " << height << "\n255\n";
    std::string row(std::size_t(width), '\xfe');
    for (int x = 0; x < width; x += 400)
      row[std::size_t(x)] = '\0';
    const std::string wall(std::size_t(width), '\0');
    for (int y = 0; y < height; ++y)
      out << (y % 400 == 0 ? wall : row);
  }

  void measure(const char* what, const std::string& mapFile)
  {
    RunningKorvent korvent{{"-o", "korvent.map.load:" + mapFile, "-o", "korvent.http.endpoint:127.0.0.1:0",
                            "-o", "logger.log_level:INFO", "-o", "corba.args:-ORBgiopMaxMsgSize 300000000"}};
    const std::string address = webViewAddress(*korvent.process);
    HeadlessBrowser browser(1280, 800);
    const Clock::time_point asked = Clock::now();
    browser.open("http://" + address + "/");
    const bool drawn = waitFor([&] { return browser.evaluate("document.body.dataset.drawn") == "1"; },
                               std::chrono::seconds(120));
    const double firstView = msSince(asked);
    // From the page's own start (navigation), without opening the tab.
    const double inPage = browser.evaluate("performance.now()");
    const int tiles = browser.evaluate("performance.getEntriesByType('resource').filter(e => e.name.includes('/tiles/')).length");

    httplib::Client http("http://" + address);
    http.set_read_timeout(120);
    Clock::time_point start = Clock::now();
    const httplib::Result cold = http.Get("/tiles/0/0/0.png?occupancy=1");
    const double coldMs = msSince(start);
    start = Clock::now();
    const httplib::Result cached = http.Get("/tiles/0/0/0.png?occupancy=1");
    const double cachedMs = msSince(start);
    std::printf("%-26s %14s %14.0f %8d %16.1f %14.1f\n", what,
                drawn ? std::to_string(int(firstView)).c_str() : "not drawn", inPage, tiles, cold && cold->status == 200 ? coldMs : -1.0, cached && cached->status == 200 ? cachedMs : -1.0);
  }
}

int main(int argc, char** argv)
{
  const int width = argc > 2 ? std::atoi(argv[1]) : 20800;
  const int height = argc > 2 ? std::atoi(argv[2]) : 13600;
  if (!HeadlessBrowser::available()) {
    std::fprintf(stderr, "web_view_bench: chromium is not installed\n");
    return 1;
  }
  TemporaryFolder folder;
  writeRooms(folder / "large.pgm", width, height);
  std::printf("%-26s %14s %14s %8s %16s %14s\n", "map", "first view ms", "of it in page", "tiles",
              "cold level 0 ms", "cached ms");
  measure("sample 240 x 160", KORVENT_SOURCE_DIR "/examples/sample.pgm");
  measure((std::to_string(width) + " x " + std::to_string(height)).c_str(), folder / "large.pgm");
  return 0;
}
