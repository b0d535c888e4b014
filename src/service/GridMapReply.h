#ifndef GRIDMAPREPLY_H
#define GRIDMAPREPLY_H

#include "store/GridMapStore.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/callDescriptor.h>
#include <BasicDataType.hh>

// getGridMap answered to a remote caller: the reply is marshalled straight
// from the stored snapshot's runs of cells, so a map changed by region
// writes is sent from its tiles without being joined, and nothing is
// copied for it.  Dispatch it on a thread that holds a ReplyHold: the
// reply is booked with the reply watch for what its snapshot pins.
class GridMapReply : public omniCallDescriptor
{
public:
  GridMapReply();

  // The map is an inout argument: its time stamp goes back as it came, its
  // octets are read and dropped, as the stored map replaces them.
  void unmarshalArguments(cdrStream& stream) override;
  void marshalReturnedValues(cdrStream& stream) override;

private:
  static void answer(omniCallDescriptor* self, omniServant* servant);

  RTC::Time callersTime_{};
  GridMapStore::Snapshot stored_;
  GridMapSnapshot::Cells cells_;
};

#endif // GRIDMAPREPLY_H
