#ifndef RTM_DATAFLOWCOMPONENTBASE_H
#define RTM_DATAFLOWCOMPONENTBASE_H

#include "rtm/RTObject.h"

namespace RTC
{
  // Base of periodic data-flow components.
  class DataFlowComponentBase : public RTObject_impl
  {
  public:
    explicit DataFlowComponentBase(Manager* manager);
    ~DataFlowComponentBase() override;
  };
}

#endif // RTM_DATAFLOWCOMPONENTBASE_H
