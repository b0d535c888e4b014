#include "ChangeListener.h"

#include "ConnectorProfiles.h"
#include "GridMapClient.h"

ChangeListener::ChangeListener(RTC::RTObject_ptr component)
  : port_("listener", event_)
{
  port_.activate(clientOrb(), clientPoa());
  RTC::PortService_var changes = portNamed(component, "mapChanged");
  RTC::PortService_var mine = port_.getPortRef();
  RTC::ConnectorProfile profile = dataPortConnector(mine, changes, port_.dataType());
  connected_ = mine->connect(profile);
}

ChangeListener::~ChangeListener()
{
  port_.disconnect_all();
  port_.deactivate();
  port_.waitReleased();
}

RTC::TimedULongSeq ChangeListener::next(std::chrono::milliseconds timeout)
{
  if (!port_.waitNew(timeout) || !port_.read())
    return RTC::TimedULongSeq();
  return event_;
}
