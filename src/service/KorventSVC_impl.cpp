#include "service/KorventSVC_impl.h"

#include "store/GridMapStore.h"
#include "service/ReplyHold.h"

#include <omniORB4/callHandle.h>
#include <rtm/util/Logger.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

namespace
{
  using Clock = std::chrono::steady_clock;

  void logStored(int width, int height, std::size_t bytes, Clock::duration took)
  {
    char line[128];
    std::snprintf(line, sizeof line, "map stored: %d x %d, %zu bytes, %.3f ms", width, height, bytes,
                  std::chrono::duration<double, std::milli>(took).count());
    RTC::logger().info(line);
  }
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
  // Neither the clock nor the text costs anything while INFO is off.
  const bool logged = RTC::logger().enabled(RTC::LogLevel::Info);
  const Clock::time_point start = logged ? Clock::now() : Clock::time_point();
  processGridMap().replace(map.data.get_buffer(), map.data.length(), width, height);
  if (logged)
    logStored(width, height, map.data.length(), Clock::now() - start);
  return false;
}

CORBA::Boolean KorventSVC_impl::_dispatch(omniCallHandle& handle)
{
  // A remote call's reply is marshalled inside the ORB's dispatch, after
  // getGridMap returned: what it points into must outlive the dispatch.  An
  // in-process caller reads the reply only after the dispatch is over, so
  // it gets no hold, and so a copy.
  std::optional<ReplyHold> hold;
  if (handle.iop_s())
    hold.emplace(handle);
  return POA_Korvent::_dispatch(handle);
}

CORBA::Boolean KorventSVC_impl::getGridMap(CORBA::Short& width, CORBA::Short& height,
                                           RTC::TimedOctetSeq& map)
{
  const GridMapStore::Snapshot stored = processGridMap().current();
  std::string_view cells;
  try {
    cells = stored->bytes();  // the first whole-map reader of a version made by region writes joins it
  }
  catch (const std::bad_alloc&) {
    throw CORBA::NO_MEMORY();
  }
  const CORBA::ULong length = static_cast<CORBA::ULong>(cells.size());

  if (length != 0 && ReplyHold::keepForReply(stored, length)) {
    // Marshalled straight from the snapshot, which never changes while it
    // is held; the sequence does not own (nor free) the octets.
    CORBA::Octet* octets = reinterpret_cast<CORBA::Octet*>(const_cast<char*>(cells.data()));
    map.data.replace(length, length, octets, false);
  }
  else if (length > map.data.maximum()) {
    // Take a buffer of exactly the stored length: growing through length()
    // would first copy the caller's old octets, only to overwrite them.
    using DataSeq = RTC::TimedOctetSeq::_data_seq;
    CORBA::Octet* buffer = DataSeq::allocbuf(length);
    if (!buffer)
      throw CORBA::NO_MEMORY();
    map.data.replace(length, length, buffer, true);
    std::memcpy(buffer, cells.data(), length);
  }
  else {
    map.data.length(length);
    if (length != 0)
      std::memcpy(map.data.get_buffer(), cells.data(), length);
  }

  width = static_cast<CORBA::Short>(stored->mapWidth);
  height = static_cast<CORBA::Short>(stored->mapHeight);
  RTC::logger().log(RTC::LogLevel::Debug, [&] {
    return "map read: " + std::to_string(width) + " x " + std::to_string(height) + ", " + std::to_string(length) +
           " bytes";
  });
  return false;
}
