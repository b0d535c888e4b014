#ifndef RTM_DATAPORTBASE_H
#define RTM_DATAPORTBASE_H

#include "rtm/dataports/DataConnection.h"
#include "rtm/ports/PortBase.h"

#include <string>

namespace RTC
{
  // What InPorts and OutPorts share: the profile properties every RTC tool
  // reads, the byte order a connect() call settles, and reading connector
  // profiles for this port's data type.
  class DataPortBase : public PortBase
  {
  public:
    // `portType` is "DataInPort" or "DataOutPort"; `dataType` a repository id.
    DataPortBase(const char* name, const char* portType, const std::string& dataType);

    const std::string& dataType() const { return dataType_; }

    // A connection made here without a byte order offers both, little first.
    ReturnCode_t connect(ConnectorProfile& connector_profile) override;

  protected:
    // DataConnection::read for this port; a refusal is logged with its reason.
    ReturnCode_t readConnection(const ConnectorProfile& profile, DataConnection& out) const;

  private:
    const std::string dataType_;
    const std::string side_;  // "inport" or "outport"
  };
}

#endif // RTM_DATAPORTBASE_H
