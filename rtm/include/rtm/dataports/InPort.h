#ifndef RTM_INPORT_H
#define RTM_INPORT_H

#include "rtm/dataports/InPortBase.h"

namespace RTC
{
  // An InPort reading values of IDL type T into the component's variable.
  template <class T>
  class InPort : public InPortBase
  {
  public:
    InPort(const char* name, T& value, std::size_t bufferLength = 8)
      : InPortBase(name, repositoryIdOf<T>(), bufferLength), value_(value)
    {
    }

    // Reads the oldest value received into the variable.  False when none
    // is waiting, or when the one taken does not decode as a T (it is then
    // dropped and the variable may be partly overwritten).
    bool read()
    {
      std::optional<InPortBuffer::Entry> entry = takeEncoded();
      return entry && decodeCdr(entry->bytes, entry->byteOrder, value_);
    }

  private:
    T& value_;
  };
}

#endif // RTM_INPORT_H
