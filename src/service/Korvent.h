#ifndef KORVENT_H
#define KORVENT_H

#include <rtm/ports/CorbaPort.h>
#include <rtm/component/DataFlowComponentBase.h>
#include <rtm/manager/Manager.h>
#include <rtm/dataports/OutPort.h>

#include "service/KorventMapInfoSVC_impl.h"
#include "service/KorventRegionSVC_impl.h"
#include "service/KorventSVC_impl.h"
#include "store/MapChangeAnnouncer.h"

// The grid-map component: the service port "KorventPV", providing the
// Korvent interface (the whole map) and nothing else, so that any consumer
// of Korvent matches it in either connection order; the data port
// "mapChanged", announcing each map stored (see MapChangeAnnouncer); and the
// service port "KorventRegionPV", providing the KorventRegion interface
// (rectangles of the same map).  All of its life cycle is the framework's
// default.
class Korvent_ : public RTC::DataFlowComponentBase
{
public:
  explicit Korvent_(RTC::Manager* manager);
  ~Korvent_() override;

private:
  RTC::CorbaPort servicePort;
  KorventSVC_impl mapService;
  RTC::CorbaPort regionPort;
  KorventRegionSVC_impl regionService;
  KorventMapInfoSVC_impl mapInfoService;
  RTC::TimedULongSeq changeEvent;
  RTC::OutPort<RTC::TimedULongSeq> changePort;
  MapChangeAnnouncer announcer;  // after the port it writes to, so it stops first
};

void registerKorventFactory(RTC::Manager* manager);
RTC::RTObject_impl* createKorvent(RTC::Manager* manager);
void destroyKorvent(RTC::RTObject_impl* component);

#endif // KORVENT_H
