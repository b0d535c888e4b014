#include "service/GridMapWrite.h"

#include "service/KorventSVC_impl.h"
#include "store/GridMapStore.h"

#include <BasicDataType.hh>

#include <new>

namespace
{
  const char* const noUserExceptions[] = {nullptr};
}

GridMapWrite::GridMapWrite(KorventSVC_impl& servant)
  : omniCallDescriptor(&GridMapWrite::store, "setGridMap", sizeof "setGridMap", 0, noUserExceptions, 0, 1),
    servant_(servant)
{
}

void GridMapWrite::unmarshalArguments(cdrStream& stream)
{
  // short width, short height, then the TimedOctetSeq: a time stamp the
  // store does not keep (it stamps the map when it stores it) and the octets.
  width_ <<= stream;
  height_ <<= stream;
  RTC::Time sent;
  sent <<= stream;
  CORBA::ULong length = 0;
  length <<= stream;
  // The same check the ORB makes before it allocates a sequence.
  if (!stream.checkInputOverrun(1, length))
    _CORBA_marshal_sequence_range_check_error(stream);
  try {
    octets_ = processGridMap().bufferFor(length);
  }
  catch (const std::bad_alloc&) {
    throw CORBA::NO_MEMORY(0, CORBA::COMPLETED_NO);
  }
  if (length > 0)
    stream.get_octet_array(reinterpret_cast<CORBA::Octet*>(octets_->data()), static_cast<int>(length));
}

void GridMapWrite::store(omniCallDescriptor* self, omniServant*)
{
  auto& write = *static_cast<GridMapWrite*>(self);
  write.servant_.storeGridMap(write.width_, write.height_, std::move(write.octets_));
}

void GridMapWrite::marshalReturnedValues(cdrStream& stream)
{
  stream.marshalBoolean(false);
}
