#include "rtm/orb/Compression.h"

#include <omniORB4/omniZIOP.h>

namespace RTC
{
  std::vector<std::string> compressionOrbOptions()
  {
    // On this host (the local socket, the loopback, its own addresses)
    // copying is cheaper than compressing; first matching rule wins.
    std::vector<std::string> options;
    for (const char* side : {"-ORBclientTransportRule", "-ORBserverTransportRule"})
      for (const char* rule : {"localhost unix,ssl,tcp", "127.0.0.0/255.0.0.0 unix,ssl,tcp", "* unix,ssl,tcp,ziop"})
        options.insert(options.end(), {side, rule});
    return options;
  }

  void enableCompression(unsigned level, unsigned long minimumBytes)
  {
    Compression::CompressorIdLevelList compressors;
    compressors.length(1);
    compressors[0].compressor_id = Compression::COMPRESSORID_ZLIB;
    compressors[0].compression_level = static_cast<Compression::CompressionLevel>(level);
    CORBA::PolicyList policies;
    policies.length(2);
    policies[0] = omniZIOP::create_compression_id_level_list_policy(compressors);
    policies[1] = omniZIOP::create_compression_low_value_policy(static_cast<CORBA::ULong>(minimumBytes));
    omniZIOP::setGlobalPolicies(policies);
  }
}
