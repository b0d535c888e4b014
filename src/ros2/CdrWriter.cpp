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

bool CdrWriter::waitForReader(std::chrono::milliseconds timeout)
{
  auto matched = [this] {
    dds_publication_matched_status_t status{};
    return dds_get_publication_matched_status(writer_, &status) == DDS_RETCODE_OK && status.current_count > 0;
  };
  if (matched())
    return true;
  // Reading the status above cleared its flag, so a match from then on
  // wakes the wait.
  const dds_entity_t waitset = dds_create_waitset(dds_get_participant(writer_));
  if (waitset < 0)
    return false;
  if (dds_set_status_mask(writer_, DDS_PUBLICATION_MATCHED_STATUS) == DDS_RETCODE_OK &&
      dds_waitset_attach(waitset, writer_, 0) == DDS_RETCODE_OK)
    dds_waitset_wait(waitset, nullptr, 0, DDS_MSECS(timeout.count()));
  dds_delete(waitset);
  return matched();
}
