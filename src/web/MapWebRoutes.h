#ifndef MAPWEBROUTES_H
#define MAPWEBROUTES_H

#include "store/GridMapStore.h"
#include "web/RenderSlots.h"
#include "web/TileCache.h"

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// The web view's answers, all read-only and all from the store's current
// snapshot:
//   /              the page (page.html)
//   /status.json   version, size and time of the last store: cheap, for polling
//   /info.json     the same and what `korvent-map info --json` says
//   /map.png       the whole map; ?occupancy=1 in occupancy colours
//   /tiles/{level}/{x}/{y}.png   one tile of the pyramid (see TilePyramid)
// Images are drawn on the requesting thread in one of a few render slots
// (503 when none is free within a second) and kept per version in a bounded
// cache; a whole-map image larger than the cache is kept alone, the latest
// version's.  A map
// with no image (none stored, or octets that are not width x height) gets
// 409 with the reason on the image routes.
class MapWebRoutes
{
public:
  MapWebRoutes(const GridMapStore& store, int renderSlots, std::size_t cacheBytes);

  void install(httplib::Server& server);

private:
  void page(httplib::Response& response) const;
  void status(httplib::Response& response) const;
  void info(httplib::Response& response);
  void wholeMap(const httplib::Request& request, httplib::Response& response);
  void tile(const httplib::Request& request, httplib::Response& response);
  // The image from the cache, or drawn in a render slot and cached; null,
  // with 503 in the response, when every slot is taken.
  TileCache::Image cachedOrDrawn(const TileCache::Key& key, httplib::Response& response,
                                 const std::function<std::string()>& draw);

  const GridMapStore& store_;
  RenderSlots slots_;
  TileCache cache_;
  // The latest whole-map image too large for the cache, by version and
  // colouring, so that it is not drawn again for every request.
  std::mutex largeMutex_;  // guards the two below
  TileCache::Key largeKey_{~std::uint64_t(0), 0, 0, 0, 0};
  TileCache::Image largeImage_;
  std::mutex infoMutex_;  // guards the two below
  std::uint64_t infoVersion_ = ~std::uint64_t(0);
  std::string infoMembers_;
};

#endif // MAPWEBROUTES_H
