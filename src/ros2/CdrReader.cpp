#include "ros2/CdrReader.h"

#include "ros2/CdrSerType.h"

#include <dds/ddsi/ddsi_serdata.h>

#include <stdexcept>

CdrReader::CdrReader(const DdsParticipant& participant, const std::string& topic, const char* typeName,
                     CdrTopicKind kind)
  : topic_(participant, topic, typeName, kind)
{
  reader_ = dds_create_reader(participant.handle(), topic_.handle(), topic_.qos(), nullptr);
  waitset_ = dds_create_waitset(participant.handle());
  woken_ = dds_create_guardcondition(participant.handle());
  if (reader_ < 0 || waitset_ < 0 || woken_ < 0 || dds_set_status_mask(reader_, DDS_DATA_AVAILABLE_STATUS) < 0 ||
      dds_waitset_attach(waitset_, reader_, 0) < 0 || dds_waitset_attach(waitset_, woken_, 0) < 0) {
    for (dds_entity_t entity : {woken_, waitset_, reader_})
      if (entity > 0)
        dds_delete(entity);
    throw std::runtime_error("cannot read DDS topic " + topic);
  }
}

CdrReader::~CdrReader()
{
  dds_delete(woken_);
  dds_delete(waitset_);
  dds_delete(reader_);
}

void CdrReader::wake()
{
  dds_set_guardcondition(woken_, true);
}

std::vector<std::string> CdrReader::take(std::chrono::milliseconds timeout)
{
  std::vector<std::string> samples;
  bool woken = false;
  dds_read_guardcondition(woken_, &woken);
  if (woken || dds_waitset_wait(waitset_, nullptr, 0, DDS_MSECS(timeout.count())) <= 0)
    return samples;
  constexpr std::size_t batch = 16;
  ddsi_serdata* taken[batch];
  dds_sample_info_t infos[batch];
  for (;;) {
    const dds_return_t count = dds_takecdr(reader_, taken, batch, infos, DDS_ANY_STATE);
    if (count <= 0)
      break;
    for (dds_return_t i = 0; i < count; ++i) {
      try {
        if (infos[i].valid_data)
          samples.emplace_back(CdrSerType::bytesOf(taken[i]));
      }
      catch (...) {
        for (dds_return_t rest = i; rest < count; ++rest)
          ddsi_serdata_unref(taken[rest]);
        throw;
      }
      ddsi_serdata_unref(taken[i]);
    }
  }
  return samples;
}
