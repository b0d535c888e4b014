// The description calls of korvent::Client.
#include "korvent/Client.h"

#include "ClientImpl.h"

namespace korvent
{
  namespace
  {
    [[noreturn]] void refused(const KorventMapInfo::Refused& refusal, const std::string& where)
    {
      using Refusal = DescriptionRefused::Refusal;
      static const Refusal ours[] = {Refusal::InvalidValue, Refusal::StaleVersion, Refusal::NotSaved};
      throw DescriptionRefused(ours[refusal.reason], refusal.currentVersion, refusal.message.in(), where);
    }

    KorventMapInfo::MapDescription toWire(const MapDescription& description)
    {
      static const KorventMapInfo::OccupancyMode modes[] = {KorventMapInfo::TRINARY, KorventMapInfo::SCALE,
                                                            KorventMapInfo::RAW};
      KorventMapInfo::MapDescription wire;
      wire.resolution = description.resolution;
      wire.originX = description.originX;
      wire.originY = description.originY;
      wire.originYaw = description.originYaw;
      wire.frame = description.frame.c_str();
      wire.mode = modes[static_cast<int>(description.mode)];
      wire.negate = description.negate;
      wire.occupiedThresh = description.occupiedThreshold;
      wire.freeThresh = description.freeThreshold;
      wire.text = description.text.c_str();
      return wire;
    }

    MapDescription fromWire(const KorventMapInfo::MapDescription& wire)
    {
      static const MapDescription::Mode modes[] = {MapDescription::Mode::Trinary, MapDescription::Mode::Scale,
                                                   MapDescription::Mode::Raw};
      MapDescription description;
      description.resolution = wire.resolution;
      description.originX = wire.originX;
      description.originY = wire.originY;
      description.originYaw = wire.originYaw;
      description.frame = wire.frame.in();
      description.mode = modes[wire.mode];
      description.negate = wire.negate;
      description.occupiedThreshold = wire.occupiedThresh;
      description.freeThreshold = wire.freeThresh;
      description.text = wire.text.in();
      return description;
    }
  }

  KorventMapInfo_ptr Client::Impl::mapInfoService() const
  {
    if (CORBA::is_nil(mapInfo))
      throw NoSuchService("the component offers no KorventMapInfo service", where);
    return mapInfo.in();
  }

  namespace
  {
    MapInfo fromWire(const KorventMapInfo::MapInfo& got)
    {
      MapInfo info;
      info.version = got.version;
      info.storedAt = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(got.storedAt.sec) + std::chrono::nanoseconds(got.storedAt.nsec)));
      info.width = got.width;
      info.height = got.height;
      if (got.described)
        info.description = fromWire(got.description);
      info.confirmed = got.confirmed;
      return info;
    }
  }

  MapInfo Client::info()
  {
    const Impl& impl = *impl_;
    KorventMapInfo_ptr service = impl.mapInfoService();
    // The plain timeout again, after a map transfer's longer one.
    omniORB::setClientCallTimeout(service, static_cast<CORBA::ULong>(impl.timeout.count()));
    try {
      const KorventMapInfo::MapInfo_var got = service->info();
      return fromWire(got.in());
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "info", impl.where);
    }
  }

  MapSummary Client::summary()
  {
    const Impl& impl = *impl_;
    KorventMapInfo_ptr service = impl.mapInfoService();
    // The component reads every cell: a second or so for the largest map.
    const CORBA::ULong allowed = static_cast<CORBA::ULong>((impl.timeout + std::chrono::seconds(10)).count());
    omniORB::setClientCallTimeout(service, allowed);
    try {
      const KorventMapInfo::MapSummary_var got = service->summary();
      MapSummary summary;
      summary.info = fromWire(got->info);
      summary.bytes = got->bytes;
      summary.crc32 = got->crc32;
      for (CORBA::ULong value = 0; value < got->counts.length() && value < summary.valueCounts.size(); ++value)
        summary.valueCounts[value] = got->counts[value];
      return summary;
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "summary", impl.where, std::chrono::milliseconds(allowed));
    }
  }

  std::uint64_t Client::setDescription(const MapDescription& description, std::optional<std::uint64_t> expected)
  {
    const Impl& impl = *impl_;
    KorventMapInfo_ptr service = impl.mapInfoService();
    omniORB::setClientCallTimeout(service, static_cast<CORBA::ULong>(impl.timeout.count()));
    try {
      return expected ? service->setDescriptionAt(*expected, toWire(description))
                      : service->setDescription(toWire(description));
    }
    catch (const KorventMapInfo::Refused& refusal) {
      refused(refusal, impl.where);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "setDescription", impl.where);
    }
  }

  std::uint64_t Client::setDescribedMap(std::int16_t width, std::int16_t height, const std::uint8_t* data,
                                        std::size_t size, const MapDescription& description)
  {
    const Impl& impl = *impl_;
    KorventMapInfo_ptr service = impl.mapInfoService();
    // Borrowed, not owned: sent straight from the caller's octets.
    const KorventMapInfo::CellSeq cells(static_cast<CORBA::ULong>(size), static_cast<CORBA::ULong>(size),
                                        const_cast<CORBA::Octet*>(data), false);
    const CORBA::ULong allowed = transferTimeoutMs(impl.options, size);
    omniORB::setClientCallTimeout(service, allowed);
    try {
      return service->setDescribedMap(width, height, cells, toWire(description));
    }
    catch (const KorventMapInfo::Refused& refusal) {
      refused(refusal, impl.where);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "setDescribedMap", impl.where, std::chrono::milliseconds(allowed));
    }
  }
}
