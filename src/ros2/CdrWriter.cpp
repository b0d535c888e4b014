#include "ros2/CdrWriter.h"

#include "ros2/CdrSerType.h"

#include <stdexcept>

CdrWriter::CdrWriter(const DdsParticipant& participant, const std::string& topic, const char* typeName,
                     CdrTopicKind kind)
  : topic_(participant, topic, typeName, kind)
{
  writer_ = dds_create_writer(participant.handle(), topic_.handle(), topic_.qos(), nullptr);
  if (writer_ < 0)
    throw std::runtime_error("cannot write DDS topic " + topic + ": " + dds_strretcode(writer_));
}

CdrWriter::~CdrWriter()
{
  dds_delete(writer_);
}

dds_return_t CdrWriter::write(std::string bytes)
{
  return dds_writecdr(writer_, CdrSerType::sampleOf(topic_.type(), std::move(bytes)));
}
