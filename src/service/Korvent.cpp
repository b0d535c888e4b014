#include "service/Korvent.h"

#include <rtm/util/Properties.h>

namespace
{
  // The component type's profile: key, value, ..., ended by an empty key.
  const char* componentProfile[] = {
    "implementation_id", "Korvent",
    "type_name",         "Korvent",
    "description",       "Korvent Module",
    "version",           "1.0.0",
    "vendor",            "Quillmoor",
    "category",          "Category",
    "activity_type",     "PERIODIC",
    "kind",              "DataFlowComponent",
    "max_instance",      "1",
    "language",          "C++",
    "lang_type",         "compile",
    "port.mapChanged",   "DataOutPort: TimedULongSeq, one event per stored map",
    ""
  };
}

Korvent_::Korvent_(RTC::Manager* manager)
  : RTC::DataFlowComponentBase(manager),
    servicePort("KorventPV"),
    mapService(),
    regionPort("KorventRegionPV"),
    regionService(),
    mapInfoService(),
    changeEvent(),
    changePort("mapChanged", changeEvent),
    announcer(processGridMap(), changePort)
{
  servicePort.registerProvider("Korvent", "Korvent", mapService);
  regionPort.registerProvider("KorventRegion", "KorventRegion", regionService);
  regionPort.registerProvider("KorventMapInfo", "KorventMapInfo", mapInfoService);
  registerPort(servicePort);
  registerOutPort("mapChanged", changePort);
  registerPort(regionPort);
}

Korvent_::~Korvent_()
{
}

void registerKorventFactory(RTC::Manager* manager)
{
  RTC::Properties profile(componentProfile, 0x7fffffff);
  manager->registerFactory(profile, createKorvent, destroyKorvent);
}

RTC::RTObject_impl* createKorvent(RTC::Manager* manager)
{
  return new Korvent_(manager);
}

void destroyKorvent(RTC::RTObject_impl* component)
{
  delete component;
}
