#include "service/KorventMapInfoSVC_impl.h"

#include "store/GridMapStore.h"
#include "store/RegionRefused.h"

#include <rtm/orb/RequestWatch.h>
#include <rtm/util/Logger.h>

#include <array>
#include <chrono>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace
{
  mapio::MapDescription fromWire(const KorventMapInfo::MapDescription& wire)
  {
    mapio::MapDescription description;
    description.resolution = wire.resolution;
    description.origin = {wire.originX, wire.originY, wire.originYaw};
    description.frame = wire.frame.in();
    description.mode = wire.mode == KorventMapInfo::SCALE ? mapio::OccupancyMode::Scale
                       : wire.mode == KorventMapInfo::RAW ? mapio::OccupancyMode::Raw
                                                          : mapio::OccupancyMode::Trinary;
    description.negate = wire.negate;
    description.occupiedThreshold = wire.occupiedThresh;
    description.freeThreshold = wire.freeThresh;
    description.text = wire.text.in();
    return description;
  }

  KorventMapInfo::MapDescription toWire(const mapio::MapDescription& description)
  {
    KorventMapInfo::MapDescription wire;
    wire.resolution = description.resolution;
    wire.originX = description.origin[0];
    wire.originY = description.origin[1];
    wire.originYaw = description.origin[2];
    wire.frame = description.frame.c_str();
    wire.mode = description.mode == mapio::OccupancyMode::Scale ? KorventMapInfo::SCALE
                : description.mode == mapio::OccupancyMode::Raw ? KorventMapInfo::RAW
                                                                : KorventMapInfo::TRINARY;
    wire.negate = description.negate;
    wire.occupiedThresh = description.occupiedThreshold;
    wire.freeThresh = description.freeThreshold;
    wire.text = description.text.c_str();
    return wire;
  }

  // Runs a store call, turning its refusals into the interface's.
  template <class Call>
  CORBA::ULongLong stored(const char* what, Call&& call)
  {
    RTC::RequestWatch::argumentsArrived();
    try {
      const std::uint64_t version = call();
      RTC::logger().log(RTC::LogLevel::Debug,
                        [&] { return std::string(what) + " stored, version " + std::to_string(version); });
      return version;
    }
    catch (const std::invalid_argument& unfit) {
      throw KorventMapInfo::Refused(KorventMapInfo::INVALID_VALUE, unfit.what(),
                                    processGridMap().current()->version);
    }
    catch (const RegionRefused& refused) {
      throw KorventMapInfo::Refused(refused.reason() == RegionRefused::Reason::NotSaved
                                        ? KorventMapInfo::NOT_SAVED
                                        : KorventMapInfo::STALE_VERSION,
                                    refused.what(), refused.currentVersion());
    }
    catch (const std::bad_alloc&) {
      throw CORBA::NO_MEMORY();
    }
  }
}

KorventMapInfoSVC_impl::KorventMapInfoSVC_impl()
{
}

KorventMapInfoSVC_impl::~KorventMapInfoSVC_impl()
{
}

namespace
{
  KorventMapInfo::MapInfo infoOf(const GridMapSnapshot& map)
  {
    KorventMapInfo::MapInfo info;
    info.version = map.version;
    const auto sinceEpoch = map.storedAt.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    info.storedAt.sec = static_cast<CORBA::ULong>(seconds.count());
    info.storedAt.nsec =
      static_cast<CORBA::ULong>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
    info.width = static_cast<CORBA::Short>(map.mapWidth);
    info.height = static_cast<CORBA::Short>(map.mapHeight);
    info.described = map.description != nullptr;
    info.confirmed = map.descriptionConfirmed;
    info.description = toWire(map.description ? *map.description : mapio::MapDescription());
    return info;
  }
}

KorventMapInfo::MapInfo* KorventMapInfoSVC_impl::info()
{
  return new KorventMapInfo::MapInfo(infoOf(*processGridMap().current()));
}

KorventMapInfo::MapSummary* KorventMapInfoSVC_impl::summary()
{
  const GridMapStore::Snapshot map = processGridMap().current();
  KorventMapInfo::MapSummary_var summary = new KorventMapInfo::MapSummary;
  summary->info = infoOf(*map);
  summary->bytes = map->size();
  try {
    summary->crc32 = map->crc();
  }
  catch (const std::bad_alloc&) {
    throw CORBA::NO_MEMORY();
  }
  const std::array<std::uint64_t, 256> counts = map->histogram();
  summary->counts.length(static_cast<CORBA::ULong>(counts.size()));
  for (std::size_t value = 0; value < counts.size(); ++value)
    summary->counts[static_cast<CORBA::ULong>(value)] = counts[value];
  return summary._retn();
}

CORBA::ULongLong KorventMapInfoSVC_impl::setDescription(const KorventMapInfo::MapDescription& description)
{
  return stored("description", [&] { return processGridMap().describe(fromWire(description)); });
}

CORBA::ULongLong KorventMapInfoSVC_impl::setDescriptionAt(CORBA::ULongLong expected,
                                                          const KorventMapInfo::MapDescription& description)
{
  return stored("description", [&] { return processGridMap().describe(fromWire(description), expected); });
}

CORBA::ULongLong KorventMapInfoSVC_impl::setDescribedMap(CORBA::Short width, CORBA::Short height,
                                                         const KorventMapInfo::CellSeq& cells,
                                                         const KorventMapInfo::MapDescription& description)
{
  return stored("described map", [&] {
    return processGridMap().replace(cells.get_buffer(), cells.length(), width, height,
                                    std::make_shared<const mapio::MapDescription>(fromWire(description)));
  });
}
