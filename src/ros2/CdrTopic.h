#ifndef CDRTOPIC_H
#define CDRTOPIC_H

#include "ros2/CdrEndpointQos.h"
#include "ros2/DdsParticipant.h"

#include <string>

// A DDS topic whose samples are serialized bytes (see CdrSerType), for the
// readers and writers of one topic kind.
class CdrTopic
{
public:
  CdrTopic(const DdsParticipant& participant, const std::string& name, const char* typeName, CdrTopicKind kind);
  ~CdrTopic();
  CdrTopic(const CdrTopic&) = delete;
  CdrTopic& operator=(const CdrTopic&) = delete;

  dds_entity_t handle() const { return topic_; }
  // The type samples written on it are built with.
  const ddsi_sertype* type() const { return type_; }
  const dds_qos_t* qos() const { return qos_.get(); }

private:
  std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> qos_;
  dds_entity_t topic_ = 0;
  const ddsi_sertype* type_ = nullptr;
};

#endif // CDRTOPIC_H
