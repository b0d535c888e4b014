#ifndef RTM_COMPRESSION_H
#define RTM_COMPRESSION_H

#include <string>
#include <vector>

namespace RTC
{
  // ORB_init options that let the transports carry compressed messages to
  // and from other hosts; without them the ORB neither offers nor accepts
  // compression.  Peers on this host are always served uncompressed.
  std::vector<std::string> compressionOrbOptions();

  // Turns on GIOP compression (ZIOP, zlib at `level`, 1 fastest to 9
  // smallest) for every object this process serves and every reference it
  // calls: a server advertises it in its references, a client compresses
  // towards servers that advertise it.  Messages under `minimumBytes` are
  // sent as they are.  Peers without ZIOP are served uncompressed.  Call
  // after an ORB_init given compressionOrbOptions(), before any object is
  // activated.
  void enableCompression(unsigned level, unsigned long minimumBytes);
}

#endif // RTM_COMPRESSION_H
