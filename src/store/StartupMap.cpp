#include "store/StartupMap.h"

#include "mapio/AtomicFile.h"
#include "mapio/MapDescription.h"
#include "mapio/MapError.h"
#include "mapio/MapFile.h"
#include "mapio/StoreFile.h"

std::unique_ptr<DurableMapWriter> loadConfiguredMap(const RTC::Properties& config)
{
  const std::string storePath = RTC::trimmed(config.getProperty("korvent.map.store"));
  const std::string loadPath = RTC::trimmed(config.getProperty("korvent.map.load"));
  const std::string occupancy = RTC::trimmed(config.getProperty("korvent.map.load.occupancy", "no"));
  if (occupancy != "yes" && occupancy != "no")
    throw mapio::MapError("korvent.map.load.occupancy must be yes or no, not '" + occupancy + "'",
                          "configuration");

  // A store file that exists but is damaged stops start-up: starting empty
  // would overwrite the user's map with the next set.
  std::optional<mapio::GridMap> map;
  std::optional<mapio::StoredDescription> described;
  GridMapStore& store = processGridMap();
  if (!storePath.empty()) {
    if (std::optional<mapio::StoredMap> stored = mapio::readStoreFile(storePath)) {
      // The map keeps the version it had when the last process stored it.
      store.continueVersionsFrom(stored->version - 1);
      described = std::move(stored->description);
      map = std::move(*stored);
    }
  }
  const bool fromStore = map.has_value();
  if (!map && !loadPath.empty()) {
    map = mapio::readMapFile(loadPath, occupancy == "yes");
    if (mapio::formatOf(loadPath) == mapio::MapFormat::Yaml)
      described = mapio::StoredDescription{mapio::describedBy(mapio::readMapYaml(loadPath))};
  }

  if (map) {
    std::shared_ptr<const mapio::MapDescription> description;
    if (described)
      description = std::make_shared<const mapio::MapDescription>(described->description);
    store.replace(map->cells.data(), map->cells.size(), map->width, map->height, std::move(description),
                  !described || described->confirmed);
  }
  if (storePath.empty())
    return nullptr;
  mapio::removeStaleTemporaries(storePath);
  auto writer = std::make_unique<DurableMapWriter>(store, storePath);
  if (map && !fromStore)
    writer->offer(store.current());
  return writer;
}
