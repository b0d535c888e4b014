#ifndef RTM_DATAFLOWCOMPONENTBASE_H
#define RTM_DATAFLOWCOMPONENTBASE_H

#include "rtm/dataports/InPortBase.h"
#include "rtm/dataports/OutPortBase.h"
#include "rtm/component/RTObject.h"

namespace RTC
{
  // Base of periodic data-flow components.
  class DataFlowComponentBase : public RTObject_impl
  {
  public:
    explicit DataFlowComponentBase(ComponentHost* host);
    ~DataFlowComponentBase() override;

    // Registers a data port under the name it was created with; false, and
    // nothing registered, when `name` is another.
    bool registerInPort(const char* name, InPortBase& port);
    bool registerOutPort(const char* name, OutPortBase& port);
  };
}

#endif // RTM_DATAFLOWCOMPONENTBASE_H
