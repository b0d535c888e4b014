#ifndef TESTS_SUPPORT_CONNECTORPROFILES_H
#define TESTS_SUPPORT_CONNECTORPROFILES_H

#include <RTC.hh>

#include <string>
#include <utility>
#include <vector>

// A connector profile as the standard connection tool builds it for two
// service ports: both ports, port type "CorbaPort", the given id ("" lets
// the port choose one).
RTC::ConnectorProfile corbaPortConnector(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                         const char* id = "");

// A data-port connector profile as the standard connection tool builds it
// (push, corba_cdr, the given data type), plus `extra` properties, which
// win; a property given an empty value is left out.
RTC::ConnectorProfile dataPortConnector(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                        const std::string& dataType,
                                        const std::vector<std::pair<std::string, std::string>>& extra = {});

// The check the standard connection tool makes before it connects two
// service ports: every interface of the port named first needs one of the
// other's with the same instance name and the opposite polarity.
bool toolMatchesInterfaces(RTC::PortService_ptr first, RTC::PortService_ptr second);

// The port of `rtc` whose name ends in ".<name>"; nil if it has none.
RTC::PortService_ptr portNamed(RTC::RTObject_ptr rtc, const std::string& name);

#endif // TESTS_SUPPORT_CONNECTORPROFILES_H
