#include "rtm/orb/ConnectionSocket.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/internal/SocketCollection.h>
#include <omniORB4/internal/giopStrand.h>

namespace RTC
{
  namespace
  {
    // Every transport's connection holds its socket in this base, out of
    // reach but for a class derived from it.
    struct SocketOf : omni::SocketHolder
    {
      static int of(omni::SocketHolder& holder) { return static_cast<int>(holder.*(&SocketOf::pd_socket)); }
    };
  }

  int connectionDescriptor(omni::giopStrand& strand)
  {
    auto* holder = dynamic_cast<omni::SocketHolder*>(strand.connection);
    return holder ? SocketOf::of(*holder) : -1;
  }
}
