#ifndef CDRWRITER_H
#define CDRWRITER_H

#include "ros2/CdrTopic.h"

#include <chrono>
#include <string>

// Writes samples already serialized (see RosMapCdr) on one DDS topic.
class CdrWriter
{
public:
  CdrWriter(const DdsParticipant& participant, const std::string& topic, const char* typeName, CdrTopicKind kind);
  ~CdrWriter();
  CdrWriter(const CdrWriter&) = delete;
  CdrWriter& operator=(const CdrWriter&) = delete;

  // Returns Cyclone's code: DDS_RETCODE_OK, or why the sample did not go.
  dds_return_t write(std::string bytes);
  // Whether a reader matched within `timeout`.
  bool waitForReader(std::chrono::milliseconds timeout);

private:
  CdrTopic topic_;
  dds_entity_t writer_ = 0;
};

#endif // CDRWRITER_H
