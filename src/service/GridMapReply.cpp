#include "service/GridMapReply.h"

#include "service/ReplyHold.h"

#include <rtm/util/Logger.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
  const char* const noUserExceptions[] = {nullptr};

  // What a reply from `stored` keeps alive that the map being served does not.
  RTC::ReplyWatch::PinnedBlocks pinnedBy(const GridMapSnapshot* stored)
  {
    return [stored](RTC::ReplyWatch::Blocks& blocks) { stored->addBlocksNotIn(*processGridMap().current(), blocks); };
  }
}

GridMapReply::GridMapReply()
  : omniCallDescriptor(&GridMapReply::answer, "getGridMap", sizeof "getGridMap", 0, noUserExceptions, 0, 1)
{
}

void GridMapReply::unmarshalArguments(cdrStream& stream)
{
  RTC::TimedOctetSeq sent;
  sent <<= stream;
  callersTime_ = sent.tm;
}

void GridMapReply::answer(omniCallDescriptor* self, omniServant*)
{
  auto& reply = *static_cast<GridMapReply*>(self);
  reply.stored_ = processGridMap().current();
  ReplyHold::keepForReply(reply.stored_, pinnedBy(reply.stored_.get()), reply.stored_->size());
  reply.cells_ = reply.stored_->cells();
  RTC::logger().log(RTC::LogLevel::Debug, [&] {
    return "map read: " + std::to_string(reply.stored_->mapWidth) + " x " + std::to_string(reply.stored_->mapHeight) +
           ", " + std::to_string(reply.stored_->size()) + " bytes";
  });
}

void GridMapReply::marshalReturnedValues(cdrStream& stream)
{
  // boolean result, short width, short height, then the TimedOctetSeq:
  // the caller's time and the stored octets.
  stream.marshalBoolean(false);
  static_cast<CORBA::Short>(stored_->mapWidth) >>= stream;
  static_cast<CORBA::Short>(stored_->mapHeight) >>= stream;
  callersTime_ >>= stream;
  static_cast<CORBA::ULong>(stored_->size()) >>= stream;
  // The stream sends each array of its own as it comes: runs as short as a
  // tile's row are gathered first, so that the socket sees large writes.
  constexpr std::size_t gathered = 1 << 20;
  std::vector<char> staging;
  auto put = [&stream](const char* octets, std::size_t length) {
    constexpr std::size_t largestPut = std::size_t(1) << 30;  // the stream takes an int
    for (std::size_t done = 0; done < length; done += largestPut)
      stream.put_octet_array(reinterpret_cast<const CORBA::Octet*>(octets + done),
                             static_cast<int>(std::min(largestPut, length - done)));
  };
  cells_.forEachRun([&](const char* run, std::size_t length) {
    if (length >= gathered) {
      put(staging.data(), staging.size());
      staging.clear();
      put(run, length);
      return;
    }
    if (staging.size() + length > gathered) {
      put(staging.data(), staging.size());
      staging.clear();
    }
    if (staging.capacity() == 0)
      staging.reserve(gathered);
    staging.insert(staging.end(), run, run + length);
  });
  put(staging.data(), staging.size());
}
