#include "store/StartupMap.h"

#include "mapio/AtomicFile.h"
#include "mapio/MapDescription.h"
#include "mapio/MapError.h"
#include "mapio/MapFile.h"
#include "mapio/MapLogReplay.h"
#include "mapio/RunFloorFile.h"
#include "mapio/StoreFile.h"

#include <algorithm>
#include <chrono>

#include <rtm/util/Logger.h>

namespace
{
  // Room left for the versions of one run: no run stores 2^32 maps, and
  // versions stay below 2^53, exact in the web page's numbers, for more
  // than a million restarts.
  constexpr std::uint64_t versionsPerRun = std::uint64_t(1) << 32;

  // Without anything on disk, versions start at the clock's microseconds
  // since 1970: above those of an earlier run unless that run stored more
  // than one map per microsecond or the clock went back.
  std::uint64_t clockFloor()
  {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count());
  }

  // With a store file, the run floor file beside it keeps the floor of the
  // last run, written before that run served a version: this run starts
  // above every version that run can have handed out, whatever the clock
  // says and whether or not its maps reached the disk.
  std::uint64_t durableFloor(const std::string& storePath, const std::optional<mapio::StoredMap>& stored)
  {
    const std::string runPath = storePath + ".run";
    const std::uint64_t clock = clockFloor();
    std::uint64_t minimum = clock;
    if (const std::optional<std::uint64_t> last = mapio::readRunFloor(runPath))
      minimum = std::max(minimum, *last + versionsPerRun);
    if (stored)
      minimum = std::max(minimum, stored->version + versionsPerRun);
    // The event carries a version's low 32 bits: taking them from the clock
    // keeps them from repeating the last run's when its floor decides.
    std::uint64_t floor = (minimum & ~(versionsPerRun - 1)) | (clock & (versionsPerRun - 1));
    if (floor < minimum)
      floor += versionsPerRun;
    mapio::writeRunFloor(runPath, floor);
    return floor;
  }
}

namespace
{
  // The store file's map brought up to the last intact record of its log.
  DurableMapWriter::OnDisk replayed(const std::string& storePath, mapio::StoredMap& map)
  {
    const std::string logPath = storePath + ".log";
    const mapio::LogReplay replay = mapio::replayMapLog(logPath, map);
    if (!replay.tailProblem.empty())
      RTC::logger().warn("warning: " + logPath + ": dropped the damaged end of the map log (" + replay.tailProblem +
                         "); the map is at version " + std::to_string(map.version));
    DurableMapWriter::OnDisk onDisk;
    if (replay.exists)
      onDisk.logBytes = replay.intactBytes;
    onDisk.version = map.version;
    return onDisk;
  }
}

ConfiguredStore loadConfiguredMap(const RTC::Properties& config)
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
  std::optional<DurableMapWriter::OnDisk> onDisk;
  ConfiguredStore configured;
  GridMapStore& store = processGridMap();
  if (storePath.empty()) {
    store.numberAbove(clockFloor());
  }
  else {
    configured.lock.emplace(storePath);
    std::optional<mapio::StoredMap> stored = mapio::readStoreFile(storePath);
    if (stored)
      onDisk = replayed(storePath, *stored);
    store.numberAbove(durableFloor(storePath, stored));
    if (stored) {
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
    return configured;
  mapio::removeStaleTemporaries(storePath);
  mapio::removeStaleTemporaries(storePath + ".run");
  mapio::removeStaleTemporaries(storePath + ".log");
  configured.writer = std::make_unique<DurableMapWriter>(store, storePath, onDisk);
  if (map && !fromStore)
    configured.writer->offer(store.current());
  return configured;
}
