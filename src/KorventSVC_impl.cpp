#include "KorventSVC_impl.h"

#include "GridMapStore.h"

#include <cstring>

namespace
{
  // The one grid map of the process, shared by every servant object.
  GridMapStore gridMap;
}

GridMapStore& processGridMap()
{
  return gridMap;
}

KorventSVC_impl::KorventSVC_impl()
{
}

KorventSVC_impl::~KorventSVC_impl()
{
}

CORBA::Boolean KorventSVC_impl::setGridMap(CORBA::Short width, CORBA::Short height,
                                           const RTC::TimedOctetSeq& map)
{
  gridMap.replace(map.data.get_buffer(), map.data.length(), width, height);
  return false;
}

CORBA::Boolean KorventSVC_impl::getGridMap(CORBA::Short& width, CORBA::Short& height,
                                           RTC::TimedOctetSeq& map)
{
  const GridMapStore::Snapshot stored = gridMap.current();
  const CORBA::ULong length = static_cast<CORBA::ULong>(stored->mapBytes.size());

  if (length > map.data.maximum()) {
    // Take a buffer of exactly the stored length: growing through length()
    // would first copy the caller's old octets, only to overwrite them.
    using DataSeq = RTC::TimedOctetSeq::_data_seq;
    CORBA::Octet* buffer = DataSeq::allocbuf(length);
    if (!buffer)
      throw CORBA::NO_MEMORY();
    map.data.replace(length, length, buffer, true);
  }
  else {
    map.data.length(length);
  }
  if (length != 0)
    std::memcpy(map.data.get_buffer(), stored->mapBytes.data(), length);

  width = static_cast<CORBA::Short>(stored->mapWidth);
  height = static_cast<CORBA::Short>(stored->mapHeight);
  return false;
}
