#include "ros2/CdrEndpointQos.h"

std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> cdrEndpointQos(CdrTopicKind kind)
{
  std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> qos(dds_create_qos(), dds_delete_qos);
  // A writer waits this long for room before a write fails.
  dds_qset_reliability(qos.get(), DDS_RELIABILITY_RELIABLE, DDS_SECS(10));
  if (kind == CdrTopicKind::Latched) {
    dds_qset_durability(qos.get(), DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_LAST, 1);
  }
  else {
    dds_qset_durability(qos.get(), DDS_DURABILITY_VOLATILE);
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_LAST, streamDepth);
  }
  const dds_data_representation_id_t plainCdr = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos.get(), 1, &plainCdr);
  dds_qset_ignorelocal(qos.get(), DDS_IGNORELOCAL_PARTICIPANT);
  return qos;
}
