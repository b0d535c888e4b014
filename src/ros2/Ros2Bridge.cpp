#include "ros2/Ros2Bridge.h"

Ros2Bridge::Ros2Bridge(GridMapStore& store, const Ros2Settings& settings)
  : participant_(settings.domain, settings.localhostOnly),
    publisher_(store, participant_, settings.topic, settings.cells)
{
  if (!settings.subscribe.empty())
    subscriber_ = std::make_unique<Ros2MapSubscriber>(store, participant_, settings.subscribe, settings.cells);
}
