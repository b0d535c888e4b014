#ifndef RTM_OUTPORT_H
#define RTM_OUTPORT_H

#include "rtm/dataports/OutPortBase.h"

namespace RTC
{
  // An OutPort sending values of IDL type T from the component's variable.
  template <class T>
  class OutPort : public OutPortBase
  {
  public:
    OutPort(const char* name, T& value)
      : OutPortBase(name, repositoryIdOf<T>()), value_(value)
    {
    }

    // Sends the variable's current value to every connection; returns at
    // once, whatever the peers do.
    bool write()
    {
      writeEncoded([value = value_](ByteOrder order) { return encodeCdr(value, order); });
      return true;
    }
    bool write(const T& value)
    {
      value_ = value;
      return write();
    }

  private:
    T& value_;
  };
}

#endif // RTM_OUTPORT_H
