#include "korvent/Client.h"

namespace korvent
{
  GridMap::GridMap(GridMap&& other) noexcept
  {
    *this = std::move(other);
  }

  GridMap& GridMap::operator=(GridMap&& other) noexcept
  {
    width_ = other.width_;
    height_ = other.height_;
    sequence_.tm = other.sequence_.tm;
    const CORBA::ULong length = other.sequence_.data.length();
    if (length == 0) {
      sequence_.data.length(0);
      return *this;
    }
    // The octets change hands; an ORB-made sequence always owns them.
    const CORBA::ULong maximum = other.sequence_.data.maximum();
    const bool owned = other.sequence_.data.release();
    CORBA::Octet* octets = other.sequence_.data.get_buffer(owned);
    if (!owned)
      other.sequence_.data.replace(0, 0, nullptr, false);
    sequence_.data.replace(maximum, length, octets, owned);
    return *this;
  }

  GridMap::Buffer GridMap::takeBuffer()
  {
    using Octets = RTC::TimedOctetSeq::_data_seq;
    auto release = [](std::uint8_t* octets) { Octets::freebuf(octets); };
    if (sequence_.data.length() == 0)
      return Buffer(nullptr, release);
    // get_buffer(true) orphans an owned buffer and leaves the sequence empty.
    return Buffer(sequence_.data.get_buffer(true), release);
  }
}
