#ifndef CDRSERTYPE_H
#define CDRSERTYPE_H

#include <dds/dds.h>

#include <string>
#include <string_view>

// A Cyclone DDS type whose samples are their serialized bytes, as the
// encoder in RosMapCdr makes them: writing hands Cyclone the bytes without
// another encoding, and reading gives the bytes as they arrived.  Topics of
// this type are key-less.  Make one with create(), give it to
// dds_create_topic_sertype (which owns it from then on), and build samples
// with the pointer that call leaves in place.
namespace CdrSerType
{
  ddsi_sertype* create(const char* typeName);
  // A sample holding `bytes` (encapsulation included), with one reference
  // for dds_writecdr to take; the bytes are moved, not copied.
  ddsi_serdata* sampleOf(const ddsi_sertype* type, std::string bytes);
  // The bytes of a sample of this type, valid while the sample is held.
  std::string_view bytesOf(const ddsi_serdata* sample);
}

#endif // CDRSERTYPE_H
