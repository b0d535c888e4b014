#ifndef DDSPARTICIPANT_H
#define DDSPARTICIPANT_H

#include <dds/dds.h>

#include <string>

// This process's one DDS participant, in a Cyclone domain configured for
// maps: UDP only (no shared memory) and large socket buffers.  With
// `localhostOnly` it works as ROS 2's localhost-only discovery does: the
// loopback interface, no multicast, unicast discovery of participants on
// this host; and its messages are as large as UDP allows, so that a map of
// many megabytes goes in few packets.  Deleting it deletes every reader
// and writer made in it.
class DdsParticipant
{
public:
  DdsParticipant(int domain, bool localhostOnly);
  ~DdsParticipant();
  DdsParticipant(const DdsParticipant&) = delete;
  DdsParticipant& operator=(const DdsParticipant&) = delete;

  dds_entity_t handle() const { return participant_; }

  // The Cyclone configuration it uses.
  static std::string configuration(bool localhostOnly);

private:
  dds_entity_t domain_ = 0;
  dds_entity_t participant_ = 0;
};

#endif // DDSPARTICIPANT_H
