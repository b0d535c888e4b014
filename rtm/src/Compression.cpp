#include "rtm/Compression.h"

#include <omniORB4/omniZIOP.h>

namespace RTC
{
  std::vector<std::string> compressionOrbOptions()
  {
    const char* const everyTransportWithCompression = "* unix,ssl,tcp,ziop";
    return {"-ORBclientTransportRule", everyTransportWithCompression,
            "-ORBserverTransportRule", everyTransportWithCompression};
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
