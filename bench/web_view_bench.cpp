// How soon the web view's page shows a map in headless Chromium: from the
// page being asked for until every tile in view is drawn, for a 282 MB map
// (20 800 x 13 600, loaded at start-up) beside the 240 x 160 sample map as
// the baseline, measured in the same run.  Also a cold and a cached tile,
// and the map service's getGridMap of a 4 MB map while browsers hammer the
// view with images it must draw each time, beside the same calls at rest.
// Usage: web_view_bench [width height]
#include "GridMapClient.h"
#include "HeadlessBrowser.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"
#include "WebView.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

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
                drawn ? std::to_string(int(firstView)).c_str() : "not drawn", inPage, tiles,
                cold && cold->status == 200 ? coldMs : -1.0, cached && cached->status == 200 ? cachedMs : -1.0);
  }

  // Median and slowest of `calls` getGridMap round trips, in ms.
  std::pair<double, double> getGridMapTimes(Korvent_ptr service, int calls)
  {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
      RTC::TimedOctetSeq map;
      CORBA::Short width = 0, height = 0;
      const Clock::time_point start = Clock::now();
      service->getGridMap(width, height, map);
      times.push_back(msSince(start));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
  }

  void measureInterference()
  {
    // A 1 MiB cache keeps no whole-map image of 4 MB: every request draws.
    RunningKorvent korvent{{"-o", "korvent.http.endpoint:127.0.0.1:0", "-o", "logger.log_level:INFO",
                            "-o", "korvent.http.cache_mb:1"}};
    const std::string address = webViewAddress(*korvent.process);
    std::vector<CORBA::Octet> cells(2000 * 2000);
    for (std::size_t i = 0; i < cells.size(); ++i)
      cells[i] = static_cast<CORBA::Octet>(i * 2654435761u >> 24);
    korvent.service->setGridMap(2000, 2000, makeMap(cells));
    const auto [restMedian, restWorst] = getGridMapTimes(korvent.service, 40);

    std::atomic<bool> done{false};
    std::atomic<long> images{0}, refused{0};
    std::vector<std::thread> browsers;
    for (int i = 0; i < 8; ++i)
      browsers.emplace_back([&, i] {
        httplib::Client http("http://" + address);
        http.set_read_timeout(60);
        while (!done) {
          const httplib::Result result = http.Get(i % 2 ? "/map.png?occupancy=1" : "/map.png");
          (result && result->status == 200 ? images : refused)++;
        }
      });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto [busyMedian, busyWorst] = getGridMapTimes(korvent.service, 40);
    done = true;
    for (std::thread& browser : browsers)
      browser.join();
    std::printf("\ngetGridMap of 4 MB, ms     median   slowest\n");
    std::printf("at rest                  %8.1f %9.1f\n", restMedian, restWorst);
    std::printf("8 clients drawing images %8.1f %9.1f   (%ld images drawn, %ld refused 503)\n", busyMedian, busyWorst,
                images.load(), refused.load());
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
  measureInterference();
  return 0;
}
