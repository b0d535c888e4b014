#include "ros2/CdrTopic.h"

#include "ros2/CdrSerType.h"

#include <stdexcept>

CdrTopic::CdrTopic(const DdsParticipant& participant, const std::string& name, const char* typeName,
                   CdrTopicKind kind)
  : qos_(cdrEndpointQos(kind))
{
  // The call takes the type, and leaves in its place the one the domain
  // keeps for that name.
  ddsi_sertype* type = CdrSerType::create(typeName);
  topic_ = dds_create_topic_sertype(participant.handle(), name.c_str(), &type, qos_.get(), nullptr, nullptr);
  if (topic_ < 0)
    throw std::runtime_error("cannot make DDS topic " + name + ": " + dds_strretcode(topic_));
  type_ = type;
}

CdrTopic::~CdrTopic()
{
  dds_delete(topic_);
}
