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
    mapPort_("MapUser"),
    changes_("mapChanged", change_)
{
  // Instance and type name must match the provider's "Korvent"/"Korvent"
  // for a connection to hand its reference over.
  mapPort_.registerConsumer("Korvent", "Korvent", map_);
  registerPort(mapPort_);
  registerInPort("mapChanged", changes_);
}

RTC::ReturnCode_t MapConsumer::onActivated(RTC::UniqueId)
{
  fetch("");
  return RTC::RTC_OK;
}

RTC::ReturnCode_t MapConsumer::onExecute(RTC::UniqueId)
{
  // Only the newest announcement matters: events read together fetch once.
  bool changed = false;
  while (changes_.read()) {
    keeper_.heard();
    if (change_.data.length() == 0 || (seenVersion_ && change_.data[0] == lastVersion_))
      continue;
    seenVersion_ = true;
    lastVersion_ = change_.data[0];
    changed = true;
  }
  if (changed)
    fetch("version " + std::to_string(lastVersion_) + ", ");
  else if (keeper_.keep() > 0)
    std::cout << "map_consumer: the change connection was lost and is made again" << std::endl;
  return RTC::RTC_OK;
}

void MapConsumer::fetch(const std::string& prefix)
{
  Korvent_var service = map_._ptr();
  if (CORBA::is_nil(service)) {
    std::cout << "map_consumer: not connected" << std::endl;
    return;
  }
  try {
    // The runtime bounds every outgoing call by corba.call_timeout.
    CORBA::Short width = 0, height = 0;
    RTC::TimedOctetSeq map;
    service->getGridMap(width, height, map);
    std::cout << "map_consumer: " << prefix << "map " << width << " x " << height << ", "
              << map.data.length() << " bytes" << std::endl;
  }
  catch (const CORBA::SystemException& error) {
    std::cout << "map_consumer: fetching the map failed: " << error._name() << std::endl;
  }
}

void registerMapConsumerFactory(RTC::Manager* manager)
{
  RTC::Properties profile(consumerProfile);
  manager->registerFactory(profile, create, destroy);
}
