#include "KorventConnection.h"

#include "mapio/MapError.h"

#include <rtm/orb/Compression.h>
#include <rtm/orb/TransportSecurity.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace
{
  template <class Call>
  auto translated(Call&& call) -> decltype(call())
  {
    try {
      return call();
    }
    catch (const korvent::Error& error) {
      throw mapio::MapError(error.reason(), error.where());
    }
  }

  bool tracing(const std::vector<std::string>& orbOptions)
  {
    return std::find(orbOptions.begin(), orbOptions.end(), "-ORBtraceLevel") != orbOptions.end();
  }
}

KorventConnection::KorventConnection(const ConnectionOptions& options)
{
  if (!options.caFile.empty() || !options.certificate.empty()) {
    RTC::TlsSettings tls;
    tls.caFile = options.caFile;
    tls.certificate = options.certificate;
    try {
      RTC::applyTlsSettings(tls);
    }
    catch (const std::runtime_error& error) {
      throw mapio::MapError(error.what(), "--ca/--cert");
    }
  }
  korvent::ClientOptions client;
  client.callTimeout = std::chrono::milliseconds(static_cast<long>(std::ceil(options.timeoutSeconds * 1000)));
  client.maxMessageSize = static_cast<std::uint32_t>(options.maxMessageBytes);
  // One second more per 8 MiB, so that a slow link still completes large maps.
  client.slowestTransferRate = 8u << 20;
  client.programName = "korvent-map";
  client.maxMessageSetting = "korvent-map --max-message <bytes>";
  client.timeoutSetting = "--timeout";
  client.orbOptions = options.orbOptions;
  if (options.compressionLevel > 0) {
    const std::vector<std::string> compression = RTC::compressionOrbOptions();
    client.orbOptions.insert(client.orbOptions.end(), compression.begin(), compression.end());
  }
  // The tool reports failures in one line of its own; the ORB's log (such
  // as its notice that the TLS transport is off) would only add lines.
  if (!tracing(options.orbOptions))
    omniORB::setLogFunction([](const char*) {});
  const unsigned level = options.compressionLevel;
  client.orbReady = [level](CORBA::ORB_ptr) {
    // Messages under 4 KiB gain nothing from compression.
    if (level > 0)
      RTC::enableCompression(level, 4096);
  };
  client_ = translated([&] {
    return options.reference.empty()
             ? korvent::Client::atNameServer(options.nameServer, options.componentName, client)
             : korvent::Client::atReference(options.reference, client);
  });
}

void KorventConnection::setGridMap(const mapio::GridMap& map)
{
  translated([&] {
    client_->setMap(map.width, map.height, reinterpret_cast<const std::uint8_t*>(map.cells.data()),
                    map.cells.size());
  });
}

korvent::GridMap KorventConnection::getGridMap()
{
  return translated([&] { return client_->getMap(); });
}

std::uint64_t KorventConnection::setRegion(int x, int y, const mapio::GridMap& cells)
{
  return translated([&] {
    return client_->setRegion(x, y, cells.width, cells.height, reinterpret_cast<const std::uint8_t*>(cells.cells.data()),
                              cells.cells.size());
  });
}

korvent::Region KorventConnection::getRegion(int x, int y, int width, int height)
{
  return translated([&] { return client_->getRegion(x, y, width, height); });
}

korvent::MapInfo KorventConnection::info()
{
  return translated([&] { return client_->info(); });
}

korvent::MapSummary KorventConnection::summary()
{
  return translated([&] { return client_->summary(); });
}

korvent::GridMap KorventConnection::getDescribedMap(korvent::MapInfo& info)
{
  for (int attempt = 0;; ++attempt) {
    const std::uint64_t before = KorventConnection::info().version;
    korvent::GridMap map = getGridMap();
    info = KorventConnection::info();
    if (info.version == before)
      return map;
    if (attempt == 4)
      throw mapio::MapError("the map changed during each of five fetches; its description may not match",
                            "info");
  }
}

std::uint64_t KorventConnection::setDescribedMap(const mapio::GridMap& map, const mapio::MapDescription& description)
{
  return translated([&] {
    return client_->setDescribedMap(map.width, map.height, reinterpret_cast<const std::uint8_t*>(map.cells.data()),
                                    map.cells.size(), clientDescriptionOf(description));
  });
}

// Both name the modes in the map YAML's order.
korvent::MapDescription clientDescriptionOf(const mapio::MapDescription& description)
{
  korvent::MapDescription client;
  client.resolution = description.resolution;
  client.originX = description.origin[0];
  client.originY = description.origin[1];
  client.originYaw = description.origin[2];
  client.frame = description.frame;
  client.mode = static_cast<korvent::MapDescription::Mode>(description.mode);
  client.negate = description.negate;
  client.occupiedThreshold = description.occupiedThreshold;
  client.freeThreshold = description.freeThreshold;
  client.text = description.text;
  return client;
}

mapio::MapDescription fileDescriptionOf(const korvent::MapDescription& client)
{
  mapio::MapDescription description;
  description.resolution = client.resolution;
  description.origin = {client.originX, client.originY, client.originYaw};
  description.frame = client.frame;
  description.mode = static_cast<mapio::OccupancyMode>(client.mode);
  description.negate = client.negate;
  description.occupiedThreshold = client.occupiedThreshold;
  description.freeThreshold = client.freeThreshold;
  description.text = client.text;
  return description;
}

mapio::GridMapView viewOf(const korvent::GridMap& map)
{
  return {map.width(), map.height(), std::string_view(reinterpret_cast<const char*>(map.data()), map.size())};
}

std::optional<korvent::MapChange> KorventConnection::waitForChange(std::uint64_t lastVersion,
                                                                   std::chrono::milliseconds timeout)
{
  return translated([&] { return client_->waitForChange(lastVersion, timeout); });
}

std::uint64_t KorventConnection::version()
{
  return translated([&] { return client_->version(); });
}

mapio::GridMapView viewOf(const korvent::Region& region)
{
  // A region lies inside the map, so its sizes fit the map's 16 bits.
  return {static_cast<short>(region.width), static_cast<short>(region.height),
          std::string_view(reinterpret_cast<const char*>(region.cells.data()), region.cells.size())};
}
