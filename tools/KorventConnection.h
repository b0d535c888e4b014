#ifndef TOOLS_KORVENTCONNECTION_H
#define TOOLS_KORVENTCONNECTION_H

#include <Korvent.hh>

#include "mapio/GridMap.h"

#include <string>

// How korvent-map reaches a KorventComp.  Every ORB option the tool uses is
// set here, in one place.
struct ConnectionOptions
{
  std::string nameServer = "127.0.0.1:2809";
  std::string componentName;           // in the name service, "id.kind/id.kind"
  double timeoutSeconds = 5.0;         // every call, plus transfer time for maps
  unsigned long maxMessageBytes = 256ul << 20;
};

// The grid-map service of the component named `componentName` in the name
// service at `nameServer` ("host:port"), found through its "KorventPV"
// port as any consumer would.  Throws mapio::MapError naming the host.
Korvent_ptr findKorventService(CORBA::ORB_ptr orb, const std::string& nameServer,
                               const std::string& componentName);

// The ORB of the tool and the grid-map service of one component, found
// through the name service and the component's "KorventPV" port.  Every
// failure becomes one mapio::MapError naming the host or component.
class KorventConnection
{
public:
  explicit KorventConnection(const ConnectionOptions& options);
  ~KorventConnection();
  KorventConnection(const KorventConnection&) = delete;
  KorventConnection& operator=(const KorventConnection&) = delete;

  void setGridMap(const mapio::GridMap& map);
  mapio::GridMap getGridMap();

private:
  void allowTransferOf(unsigned long bytes);
  [[noreturn]] void failCall(const CORBA::SystemException& error, const char* operation,
                             unsigned long bytes) const;

  ConnectionOptions options_;
  CORBA::ORB_var orb_;
  Korvent_var service_;
};

#endif // TOOLS_KORVENTCONNECTION_H
