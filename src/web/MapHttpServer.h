#ifndef MAPHTTPSERVER_H
#define MAPHTTPSERVER_H

#include "store/GridMapStore.h"
#include "web/HttpSettings.h"
#include "web/MapWebRoutes.h"

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

// The read-only web view of the store: HTTP, or HTTPS with the ORB's
// certificate when TLS is configured, on a thread of its own that accepts
// connections and a bounded set of threads that serve them.  Listens from
// construction until stop() or destruction; must be stopped before the
// store goes.
class MapHttpServer
{
public:
  // Throws RTC::ConfigError when it cannot listen or read the certificates.
  MapHttpServer(const HttpSettings& settings, const GridMapStore& store);
  ~MapHttpServer();
  MapHttpServer(const MapHttpServer&) = delete;
  MapHttpServer& operator=(const MapHttpServer&) = delete;

  // "host:port" as bound (the port filled in when 0 was asked for).
  const std::string& address() const { return address_; }
  std::string url() const;

  // Closes the listening socket, lets the requests in progress end, joins
  // the threads.  Idempotent.
  void stop();

private:
  MapWebRoutes routes_;
  std::unique_ptr<httplib::Server> server_;
  bool secure_ = false;
  std::string address_;
  std::atomic<bool> stopping_{false};
  std::thread listener_;
};

#endif // MAPHTTPSERVER_H
