#ifndef TOOLS_KORVENTCONNECTION_H
#define TOOLS_KORVENTCONNECTION_H

#include "mapio/GridMap.h"
#include "mapio/MapDescription.h"

#include <korvent/Client.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How korvent-map reaches a KorventComp.
struct ConnectionOptions
{
  std::string nameServer = "127.0.0.1:2809";
  std::string componentName;           // in the name service, "id.kind/id.kind"
  std::string reference;               // IOR, corbaloc or corbaname; replaces the two above
  double timeoutSeconds = 5.0;         // every call, plus transfer time for maps
  unsigned long maxMessageBytes = 1152ul << 20;  // the largest map and room to spare
  unsigned compressionLevel = 1;       // GIOP compression, 1-9; 0 sends uncompressed
  std::string caFile;                  // TLS: the trusted authority (PEM)
  std::string certificate;             // TLS: this end's key and certificate (PEM)
  std::vector<std::string> orbOptions; // -ORB... options from the command line
};

// The tool's side of korvent::Client: sets up the process's ORB from the
// options and turns every korvent::Error into one mapio::MapError line.
class KorventConnection
{
public:
  explicit KorventConnection(const ConnectionOptions& options);

  void setGridMap(const mapio::GridMap& map);
  korvent::GridMap getGridMap();
  // Stores `cells`, its width x height, with its first cell at x,y of the
  // stored map; returns the new version.
  std::uint64_t setRegion(int x, int y, const mapio::GridMap& cells);
  korvent::Region getRegion(int x, int y, int width, int height);
  // The map's version, time of storing, size and description.
  korvent::MapInfo info();
  korvent::MapSummary summary();
  // The map with `info` of the same version: fetched again while stores
  // come between the two.
  korvent::GridMap getDescribedMap(korvent::MapInfo& info);
  // Stores `map` with `description` as one version, returned.
  std::uint64_t setDescribedMap(const mapio::GridMap& map, const mapio::MapDescription& description);
  // The newest announced change whose version is not `lastVersion`.
  std::optional<korvent::MapChange> waitForChange(std::uint64_t lastVersion, std::chrono::milliseconds timeout);
  // Times waitForChange lost its connection and made it again.
  std::uint64_t changeReconnections() const { return client_->changeReconnections(); }
  // Where the component cannot push changes to, or empty.
  std::string changesUnreachable() const { return client_->changesUnreachable(); }
  // The stored version, from the region service.
  std::uint64_t version();

private:
  std::optional<korvent::Client> client_;
};

// The same description as the client library and as the map files hold it.
korvent::MapDescription clientDescriptionOf(const mapio::MapDescription& description);
mapio::MapDescription fileDescriptionOf(const korvent::MapDescription& description);

// The fetched map's cells where the ORB put them.
mapio::GridMapView viewOf(const korvent::GridMap& map);
// A fetched region's cells, as a map of its own size.
mapio::GridMapView viewOf(const korvent::Region& region);

#endif // TOOLS_KORVENTCONNECTION_H
