#ifndef RTM_CONNECTIONSOCKET_H
#define RTM_CONNECTIONSOCKET_H

namespace omni
{
  class giopStrand;
}

namespace RTC
{
  // The ORB's own descriptor of the connection `strand` is served on (TCP,
  // TLS or the local socket), or -1.  Call from the thread serving it, so
  // that the ORB keeps it open; never close it.
  int connectionDescriptor(omni::giopStrand& strand);
}

#endif // RTM_CONNECTIONSOCKET_H
