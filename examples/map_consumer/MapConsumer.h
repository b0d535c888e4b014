#ifndef MAPCONSUMER_H
#define MAPCONSUMER_H

#include <Korvent.hh>

#include <rtm/CorbaPort.h>
#include <rtm/DataFlowComponentBase.h>
#include <rtm/Manager.h>

// Requires the Korvent interface on its port "MapUser".  Connected to a
// KorventComp's "KorventPV", it fetches the map whenever it is activated and
// prints the map's size on standard output.
class MapConsumer : public RTC::DataFlowComponentBase
{
public:
  explicit MapConsumer(RTC::Manager* manager);

  RTC::ReturnCode_t onActivated(RTC::UniqueId ec_id) override;

private:
  RTC::CorbaPort mapPort_;
  RTC::CorbaConsumer<Korvent> map_;
};

void registerMapConsumerFactory(RTC::Manager* manager);

#endif // MAPCONSUMER_H
