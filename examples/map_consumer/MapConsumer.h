#ifndef MAPCONSUMER_H
#define MAPCONSUMER_H

#include "ConnectionKeeper.h"

#include <Korvent.hh>

#include <rtm/ports/CorbaPort.h>
#include <rtm/component/DataFlowComponentBase.h>
#include <rtm/dataports/InPort.h>
#include <rtm/manager/Manager.h>

// Requires the Korvent interface on its port "MapUser".  Connected to a
// KorventComp's "KorventPV", it fetches the map whenever it is activated and
// prints the map's size on standard output.  With its InPort "mapChanged"
// connected to the component's port of that name, it also fetches the map
// while active each time the announced version changes, one line per map;
// a change connection the component dropped is made again meanwhile.
class MapConsumer : public RTC::DataFlowComponentBase
{
public:
  explicit MapConsumer(RTC::Manager* manager);

  RTC::ReturnCode_t onActivated(RTC::UniqueId ec_id) override;
  RTC::ReturnCode_t onExecute(RTC::UniqueId ec_id) override;

private:
  // Fetches the map and prints "map_consumer: <prefix>map W x H, N bytes".
  void fetch(const std::string& prefix);

  RTC::CorbaPort mapPort_;
  RTC::CorbaConsumer<Korvent> map_;
  RTC::TimedULongSeq change_;
  RTC::InPort<RTC::TimedULongSeq> changes_;
  ConnectionKeeper keeper_{changes_};
  bool seenVersion_ = false;
  CORBA::ULong lastVersion_ = 0;
};

void registerMapConsumerFactory(RTC::Manager* manager);

#endif // MAPCONSUMER_H
