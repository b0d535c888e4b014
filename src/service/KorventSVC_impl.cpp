#include "service/KorventSVC_impl.h"

#include "store/GridMapStore.h"
#include "service/GridMapReply.h"
#include "service/GridMapWrite.h"
#include "service/ReplyHold.h"

#include <omniORB4/callHandle.h>
#include <rtm/orb/RequestWatch.h>
#include <rtm/util/Logger.h>

#include <chrono>
#include <cstdio>
#include <cstring>

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
  // A caller in this process keeps its octets: they are copied.
  std::unique_ptr<std::string> octets = processGridMap().bufferFor(map.data.length());
  if (map.data.length() > 0)
    std::memcpy(octets->data(), map.data.get_buffer(), map.data.length());
  storeGridMap(width, height, std::move(octets));
  return false;
}

void KorventSVC_impl::storeGridMap(CORBA::Short width, CORBA::Short height, std::unique_ptr<std::string> octets)
{
  RTC::RequestWatch::argumentsArrived();
  // Neither the clock nor the text costs anything while INFO is off.
  const bool logged = RTC::logger().enabled(RTC::LogLevel::Info);
  const Clock::time_point start = logged ? Clock::now() : Clock::time_point();
  const std::size_t bytes = octets->size();
  processGridMap().adopt(std::move(octets), width, height);
  if (logged)
    logStored(width, height, bytes, Clock::now() - start);
}

CORBA::Boolean KorventSVC_impl::_dispatch(omniCallHandle& handle)
{
  // A remote caller's map is marshalled from the stored snapshot itself,
  // which must outlive the dispatch; an in-process caller reads the reply
  // only after the dispatch is over, so it gets a copy (getGridMap below).
  if (!handle.iop_s())
    return POA_Korvent::_dispatch(handle);
  ReplyHold hold(handle);
  if (omni::strMatch(handle.operation_name(), "getGridMap")) {
    GridMapReply reply;
    handle.upcall(this, reply);
    return 1;
  }
  if (omni::strMatch(handle.operation_name(), "setGridMap")) {
    GridMapWrite write(*this);
    handle.upcall(this, write);
    return 1;
  }
  return POA_Korvent::_dispatch(handle);
}

CORBA::Boolean KorventSVC_impl::getGridMap(CORBA::Short& width, CORBA::Short& height,
                                           RTC::TimedOctetSeq& map)
{
  const GridMapStore::Snapshot stored = processGridMap().current();
  const CORBA::ULong length = static_cast<CORBA::ULong>(stored->size());
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
  CORBA::Octet* out = map.data.get_buffer();
  stored->cells().forEachRun([&out](const char* run, std::size_t size) {
    std::memcpy(out, run, size);
    out += size;
  });
  width = static_cast<CORBA::Short>(stored->mapWidth);
  height = static_cast<CORBA::Short>(stored->mapHeight);
  return false;
}
