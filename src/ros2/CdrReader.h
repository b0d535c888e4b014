#ifndef CDRREADER_H
#define CDRREADER_H

#include "ros2/CdrTopic.h"

#include <chrono>
#include <string>
#include <vector>

// Reads one DDS topic's samples as their serialized bytes.
class CdrReader
{
public:
  CdrReader(const DdsParticipant& participant, const std::string& topic, const char* typeName, CdrTopicKind kind);
  ~CdrReader();
  CdrReader(const CdrReader&) = delete;
  CdrReader& operator=(const CdrReader&) = delete;

  // The samples that arrived, oldest first, waiting up to `timeout` for
  // one; empty after the timeout or once wake() was called.
  std::vector<std::string> take(std::chrono::milliseconds timeout);
  // Ends a take() that waits, and every later wait, at once.
  void wake();

private:
  CdrTopic topic_;
  dds_entity_t reader_ = 0;
  dds_entity_t waitset_ = 0;
  dds_entity_t woken_ = 0;
};

#endif // CDRREADER_H
