#include "MapConsumer.h"

#include <iostream>

namespace
{
  const char* consumerProfile[] = {
    "implementation_id", "MapConsumer",
    "type_name",         "MapConsumer",
    "description",       "Fetches the grid map from a Korvent provider",
    "version",           "1.0.0",
    "vendor",            "Quillmoor",
    "category",          "Example",
    "activity_type",     "PERIODIC",
    "kind",              "DataFlowComponent",
    "max_instance",      "1",
    "language",          "C++",
    "lang_type",         "compile",
    ""
  };

  RTC::RTObject_impl* create(RTC::Manager* manager) { return new MapConsumer(manager); }
  void destroy(RTC::RTObject_impl* component) { delete component; }
}

MapConsumer::MapConsumer(RTC::Manager* manager)
  : RTC::DataFlowComponentBase(manager),
    mapPort_("MapUser")
{
  // Instance and type name must match the provider's "Korvent"/"Korvent"
  // for a connection to hand its reference over.
  mapPort_.registerConsumer("Korvent", "Korvent", map_);
  registerPort(mapPort_);
}

RTC::ReturnCode_t MapConsumer::onActivated(RTC::UniqueId)
{
  Korvent_var service = map_._ptr();
  if (CORBA::is_nil(service)) {
    std::cout << "map_consumer: not connected" << std::endl;
    return RTC::RTC_OK;
  }
  try {
    // The runtime bounds every outgoing call by corba.call_timeout.
    CORBA::Short width = 0, height = 0;
    RTC::TimedOctetSeq map;
    service->getGridMap(width, height, map);
    std::cout << "map_consumer: map " << width << " x " << height << ", "
              << map.data.length() << " bytes" << std::endl;
  }
  catch (const CORBA::SystemException& error) {
    std::cout << "map_consumer: fetching the map failed: " << error._name() << std::endl;
  }
  return RTC::RTC_OK;
}

void registerMapConsumerFactory(RTC::Manager* manager)
{
  RTC::Properties profile(consumerProfile);
  manager->registerFactory(profile, create, destroy);
}
