#include "service/KorventRegionSVC_impl.h"

#include "store/GridMapStore.h"
#include "service/KorventSVC_impl.h"
#include "store/RegionRefused.h"
#include "service/ReplyHold.h"

#include <omniORB4/callHandle.h>

#include <rtm/orb/RequestWatch.h>
#include <rtm/util/Logger.h>

#include <memory>
#include <new>
#include <optional>
#include <string>

namespace
{
  KorventRegion::Refused refusalOf(const RegionRefused& refused)
  {
    static const KorventRegion::Refusal wire[] = {
      KorventRegion::OUTSIDE_MAP, KorventRegion::EMPTY_SIZE, KorventRegion::CELL_COUNT_MISMATCH,
      KorventRegion::MAP_NOT_RECTANGULAR, KorventRegion::STALE_VERSION, KorventRegion::NOT_SAVED};
    return KorventRegion::Refused(wire[static_cast<int>(refused.reason())], refused.what(),
                                  refused.currentVersion());
  }

  // The IDL's longs are wider than the map's shorts, so that a rectangle
  // reaching past the map is refused instead of wrapping round; anything
  // beyond int is outside every map anyway.
  CellRectangle rectangleOf(CORBA::Long x, CORBA::Long y, CORBA::Long width, CORBA::Long height)
  {
    return CellRectangle{static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                         static_cast<int>(height)};
  }

  std::string described(const char* what, const CellRectangle& area, std::uint64_t version)
  {
    return std::string(what) + ": " + std::to_string(area.width) + " x " + std::to_string(area.height) + " at " +
           std::to_string(area.x) + "," + std::to_string(area.y) + ", version " + std::to_string(version);
  }

  CORBA::ULongLong write(const CellRectangle& area, const KorventRegion::CellSeq& cells,
                         std::optional<std::uint64_t> expected)
  {
    RTC::RequestWatch::argumentsArrived();
    try {
      const std::uint64_t version = processGridMap().writeRegion(area, cells.get_buffer(), cells.length(), expected);
      RTC::logger().log(RTC::LogLevel::Debug, [&] { return described("region stored", area, version); });
      return version;
    }
    catch (const RegionRefused& refused) {
      throw refusalOf(refused);
    }
    catch (const std::bad_alloc&) {
      throw CORBA::NO_MEMORY();
    }
  }
}

KorventRegionSVC_impl::KorventRegionSVC_impl()
{
}

KorventRegionSVC_impl::~KorventRegionSVC_impl()
{
}

CORBA::Boolean KorventRegionSVC_impl::_dispatch(omniCallHandle& handle)
{
  // A remote caller's region is sent from a copy kept until the dispatch
  // is over; an in-process caller gets a sequence of its own.
  std::optional<ReplyHold> hold;
  if (handle.iop_s())
    hold.emplace(handle);
  return POA_KorventRegion::_dispatch(handle);
}

KorventRegion::MapShape KorventRegionSVC_impl::shape()
{
  const GridMapStore::Snapshot stored = processGridMap().current();
  KorventRegion::MapShape shape;
  shape.version = stored->version;
  shape.width = static_cast<CORBA::Short>(stored->mapWidth);
  shape.height = static_cast<CORBA::Short>(stored->mapHeight);
  return shape;
}

KorventRegion::CellSeq* KorventRegionSVC_impl::getRegion(CORBA::Long x, CORBA::Long y, CORBA::Long width,
                                                       CORBA::Long height, CORBA::ULongLong& version)
{
  const GridMapStore::Snapshot stored = processGridMap().current();
  const CellRectangle area = rectangleOf(x, y, width, height);
  try {
    stored->checkRegion(area);
  }
  catch (const RegionRefused& refused) {
    throw refusalOf(refused);
  }
  const CORBA::ULong count = static_cast<CORBA::ULong>(area.width) * static_cast<CORBA::ULong>(area.height);
  // A remote caller's cells are copied once, into a buffer the reply is
  // sent from and the reply budget counts whole: nobody else holds it.
  auto copy = std::make_shared<std::unique_ptr<CORBA::Octet[]>>();  // filled once booked
  KorventRegion::CellSeq_var cells;
  try {
    const auto pinned = [key = copy.get(), count](RTC::ReplyWatch::Blocks& blocks) { blocks.emplace(key, count); };
    if (ReplyHold::keepForReply(copy, pinned, count)) {
      copy->reset(new CORBA::Octet[count]);
      cells = new KorventRegion::CellSeq(count, count, copy->get(), false);
    }
    else {
      CORBA::Octet* buffer = KorventRegion::CellSeq::allocbuf(count);
      if (!buffer)
        throw std::bad_alloc();
      cells = new KorventRegion::CellSeq(count, count, buffer, true);
    }
  }
  catch (const std::bad_alloc&) {
    throw CORBA::NO_MEMORY();
  }
  stored->copyRegion(area, reinterpret_cast<char*>(cells->get_buffer()));
  version = stored->version;
  RTC::logger().log(RTC::LogLevel::Debug, [&] { return described("region read", area, version); });
  return cells._retn();
}

CORBA::ULongLong KorventRegionSVC_impl::setRegion(CORBA::Long x, CORBA::Long y, CORBA::Long width,
                                                  CORBA::Long height, const KorventRegion::CellSeq& cells)
{
  return write(rectangleOf(x, y, width, height), cells, std::nullopt);
}

CORBA::ULongLong KorventRegionSVC_impl::setRegionAt(CORBA::ULongLong expected, CORBA::Long x, CORBA::Long y,
                                                    CORBA::Long width, CORBA::Long height,
                                                    const KorventRegion::CellSeq& cells)
{
  return write(rectangleOf(x, y, width, height), cells, expected);
}
