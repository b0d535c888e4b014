#ifndef CDRENDPOINTQOS_H
#define CDRENDPOINTQOS_H

#include <dds/dds.h>

#include <memory>

// The two kinds of topic a map travels on, with the QoS ROS 2's map users
// expect (reliable both):
//   Latched: transient local, keep last 1, so that a late reader gets the
//            current map at once, and a reader that stops acknowledging
//            holds at most the one map.
//   Stream:  volatile, keep last `streamDepth`, for updates that only make
//            sense after the map.
enum class CdrTopicKind { Latched, Stream };

constexpr int streamDepth = 16;

// A QoS for readers and writers of `kind`, deleted with its owner.  Its
// endpoints ignore those of the same participant, so that a reader never
// gets what this process wrote.
std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> cdrEndpointQos(CdrTopicKind kind);

#endif // CDRENDPOINTQOS_H
