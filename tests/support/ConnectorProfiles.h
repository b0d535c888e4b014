#ifndef TESTS_SUPPORT_CONNECTORPROFILES_H
#define TESTS_SUPPORT_CONNECTORPROFILES_H

#include <RTC.hh>

// A connector profile as the standard connection tool builds it for two
// service ports: both ports, port type "CorbaPort", the given id ("" lets
// the port choose one).
RTC::ConnectorProfile corbaPortConnector(RTC::PortService_ptr first, RTC::PortService_ptr second,
                                         const char* id = "");

#endif // TESTS_SUPPORT_CONNECTORPROFILES_H
