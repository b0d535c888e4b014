#include "web/MapWebRoutes.h"

#include "web/MapPage.h"
#include "web/MapTileRenderer.h"

#include "mapio/MapDescriptionText.h"
#include "mapio/MapSummary.h"

#include <optional>
#include <utility>

namespace
{
  using Colouring = MapTileRenderer::Colouring;

  // How long a request waits for a render slot before it gets 503: a page
  // asks for a screenful of tiles at once, and most of them need only wait
  // for the others.
  constexpr std::chrono::milliseconds slotPatience{1000};

  // The one place the web view reads a snapshot's cells.
  mapio::GridMapView cellsOf(const GridMapSnapshot& map)
  {
    return {static_cast<short>(map.mapWidth), static_cast<short>(map.mapHeight), map.bytes()};
  }

  // Why the map has no image, or empty when it has one.
  std::string whyNoImage(const GridMapSnapshot& map)
  {
    const std::string size = std::to_string(map.mapWidth) + " x " + std::to_string(map.mapHeight);
    if (map.version == 0)
      return "no map has been stored yet";
    if (!map.rectangular())
      return "the map holds " + std::to_string(map.size()) + " bytes, which is not width x height (" +
             size + ")";
    if (map.mapWidth == 0 || map.mapHeight == 0)
      return "the map is empty (" + size + ")";
    return "";
  }

  std::string sizeMembers(const GridMapSnapshot& map)
  {
    return "\"width\": " + std::to_string(map.mapWidth) + ", \"height\": " + std::to_string(map.mapHeight) +
           ", \"bytes\": " + std::to_string(map.size()) +
           ", \"size_agrees\": " + (map.rectangular() ? "true" : "false");
  }

  std::string versionMembers(const GridMapSnapshot& map)
  {
    const std::string problem = whyNoImage(map);
    return "\"version\": " + std::to_string(map.version) +
           ", \"stored_at\": " + (map.version == 0 ? "null" : "\"" + mapio::isoTime(map.storedAt) + "\"") +
           ", \"tile_size\": " + std::to_string(TilePyramid::tileSize) +
           ", \"top_level\": " + std::to_string(TilePyramid(map.mapWidth, map.mapHeight).topLevel()) +
           ", \"no_image\": " + (problem.empty() ? "null" : "\"" + problem + "\"") + ", " +
           mapio::descriptionJsonMembers(map.description.get(), map.descriptionConfirmed);
  }

  void sendJson(httplib::Response& response, const std::string& members)
  {
    response.set_header("Cache-Control", "no-store");
    response.set_content("{" + members + "}\n", "application/json");
  }

  void refuse(httplib::Response& response, int status, const std::string& reason)
  {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(reason + "\n", "text/plain; charset=utf-8");
  }

  void refuseBusy(httplib::Response& response)
  {
    response.set_header("Retry-After", "1");
    refuse(response, 503, "busy drawing other images; try again");
  }

  // The colouring an image request asks for.  Only `occupancy` (0 or 1)
  // and `v` (the version the page expects, digits) are taken; anything
  // else gets 400.
  std::optional<Colouring> colouringOf(const httplib::Request& request, httplib::Response& response)
  {
    Colouring colouring = Colouring::Grey;
    for (const auto& [name, value] : request.params) {
      const bool digits = !value.empty() && value.size() <= 20 &&
                          value.find_first_not_of("0123456789") == std::string::npos;
      if (name == "occupancy" && (value == "0" || value == "1"))
        colouring = value == "1" ? Colouring::Occupancy : Colouring::Grey;
      else if (!(name == "v" && digits)) {
        refuse(response, 400, "unknown parameter or value: " + name + "=" + value.substr(0, 40));
        return std::nullopt;
      }
    }
    return colouring;
  }

  // An image may stay in the browser's cache only under a URL that names
  // the version it shows.
  void sendPng(const httplib::Request& request, httplib::Response& response, const GridMapSnapshot& map,
               const std::string& png)
  {
    const bool named = request.has_param("v") && request.get_param_value("v") == std::to_string(map.version);
    response.set_header("Cache-Control", named ? "max-age=86400, immutable" : "no-store");
    response.set_header("X-Map-Version", std::to_string(map.version));
    response.set_content(png, "image/png");
  }
}

MapWebRoutes::MapWebRoutes(const GridMapStore& store, int renderSlots, std::size_t cacheBytes)
  : store_(store), slots_(renderSlots), cache_(cacheBytes)
{
}

void MapWebRoutes::install(httplib::Server& server)
{
  server.Get("/", [this](const httplib::Request&, httplib::Response& response) { page(response); });
  server.Get("/status.json", [this](const httplib::Request&, httplib::Response& response) { status(response); });
  server.Get("/info.json", [this](const httplib::Request&, httplib::Response& response) { info(response); });
  server.Get("/map.png", [this](const httplib::Request& request, httplib::Response& response) {
    wholeMap(request, response);
  });
  server.Get(R"(/tiles/(\d{1,2})/(\d{1,5})/(\d{1,5})\.png)",
             [this](const httplib::Request& request, httplib::Response& response) { tile(request, response); });
}

void MapWebRoutes::page(httplib::Response& response) const
{
  response.set_header("Content-Security-Policy",
                      "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'");
  response.set_header("Cache-Control", "no-cache");
  response.set_content(std::string(mapPage()), "text/html; charset=utf-8");
}

void MapWebRoutes::status(httplib::Response& response) const
{
  const GridMapStore::Snapshot map = store_.current();
  sendJson(response, sizeMembers(*map) + ", " + versionMembers(*map));
}

void MapWebRoutes::info(httplib::Response& response)
{
  const GridMapStore::Snapshot map = store_.current();
  {
    std::lock_guard<std::mutex> lock(infoMutex_);
    if (infoVersion_ == map->version)
      return sendJson(response, infoMembers_ + ", " + versionMembers(*map));
  }
  const std::optional<RenderSlots::Slot> slot = slots_.tryTake(slotPatience);
  if (!slot)
    return refuseBusy(response);
  // Counted over the cells where they are kept: a map made by region
  // writes is not joined for it.
  const std::string members = mapio::MapSummary(static_cast<short>(map->mapWidth), static_cast<short>(map->mapHeight),
                                                 map->size(), map->crc(), map->histogram())
                                .jsonMembers();
  {
    std::lock_guard<std::mutex> lock(infoMutex_);
    infoVersion_ = map->version;
    infoMembers_ = members;
  }
  sendJson(response, members + ", " + versionMembers(*map));
}

void MapWebRoutes::wholeMap(const httplib::Request& request, httplib::Response& response)
{
  const std::optional<Colouring> colouring = colouringOf(request, response);
  if (!colouring)
    return;
  const GridMapStore::Snapshot map = store_.current();
  const std::string problem = whyNoImage(*map);
  if (!problem.empty())
    return refuse(response, 409, problem);
  const TileCache::Key key{map->version, static_cast<int>(*colouring), -1, 0, 0};
  {
    std::lock_guard<std::mutex> lock(largeMutex_);
    if (largeImage_ && !(largeKey_ < key) && !(key < largeKey_))
      return sendPng(request, response, *map, *largeImage_);
  }
  const TileCache::Image png =
      cachedOrDrawn(key, response, [&] { return MapTileRenderer(cellsOf(*map), *colouring).whole(); });
  if (!png)
    return;
  if (!cache_.find(key)) {
    TileCache::Image replaced;  // let go outside the lock
    std::lock_guard<std::mutex> lock(largeMutex_);
    if (!largeImage_ || largeKey_ < key) {
      largeKey_ = key;
      replaced = std::exchange(largeImage_, png);
    }
  }
  sendPng(request, response, *map, *png);
}

void MapWebRoutes::tile(const httplib::Request& request, httplib::Response& response)
{
  const std::optional<Colouring> colouring = colouringOf(request, response);
  if (!colouring)
    return;
  const int level = std::stoi(request.matches[1]);
  const int x = std::stoi(request.matches[2]);
  const int y = std::stoi(request.matches[3]);
  const GridMapStore::Snapshot map = store_.current();
  const std::string problem = whyNoImage(*map);
  if (!problem.empty())
    return refuse(response, 409, problem);
  if (!TilePyramid(map->mapWidth, map->mapHeight).contains(level, x, y))
    return refuse(response, 404, "no such tile in this map");
  const TileCache::Key key{map->version, static_cast<int>(*colouring), level, x, y};
  if (const TileCache::Image png =
          cachedOrDrawn(key, response, [&] { return MapTileRenderer(cellsOf(*map), *colouring).tile(level, x, y); }))
    sendPng(request, response, *map, *png);
}

TileCache::Image MapWebRoutes::cachedOrDrawn(const TileCache::Key& key, httplib::Response& response,
                                             const std::function<std::string()>& draw)
{
  if (TileCache::Image png = cache_.find(key))
    return png;
  const std::optional<RenderSlots::Slot> slot = slots_.tryTake(slotPatience);
  if (!slot) {
    refuseBusy(response);
    return nullptr;
  }
  TileCache::Image png = std::make_shared<const std::string>(draw());
  cache_.store(key, png);
  return png;
}
