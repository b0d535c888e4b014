#ifndef RTM_DATAFLOWCOMPONENTBASE_H
#define RTM_DATAFLOWCOMPONENTBASE_H

#include "rtm/InPortBase.h"
#include "rtm/OutPortBase.h"
#include "rtm/RTObject.h"

namespace RTC
{
  // Base of periodic data-flow components.
  class DataFlowComponentBase : public RTObject_impl
  {
  public:
    explicit DataFlowComponentBase(Manager* manager);
    ~DataFlowComponentBase() override;

    // Registers a data port under the name it was created with; false, and
    // nothing registered, when `name` is another.
    bool registerInPort(const char* name, InPortBase& port);
    bool registerOutPort(const char* name, OutPortBase& port);
  };
}

#endif // RTM_DATAFLOWCOMPONENTBASE_H
