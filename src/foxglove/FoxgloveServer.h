#ifndef FOXGLOVESERVER_H
#define FOXGLOVESERVER_H

#include "foxglove/FoxgloveHub.h"
#include "foxglove/FoxgloveMapFeed.h"
#include "foxglove/FoxgloveSettings.h"

#include "store/GridMapStore.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <optional>
#include <string>
#include <thread>

// The map for Foxglove and Lichtblick: their WebSocket protocol, over TLS
// with the ORB's certificate when TLS is configured, served from one
// network thread that never blocks on a viewer; the maps are encoded on the
// feed's thread.  Listens from construction until destruction, which must
// come before the store goes.
class FoxgloveServer
{
public:
  // Throws RTC::ConfigError when it cannot listen or use the certificates.
  FoxgloveServer(const FoxgloveSettings& settings, GridMapStore& store);
  ~FoxgloveServer();
  FoxgloveServer(const FoxgloveServer&) = delete;
  FoxgloveServer& operator=(const FoxgloveServer&) = delete;

  // ws://host:port or wss://host:port, the port as bound.
  const std::string& url() const { return url_; }

private:
  void accept();
  void serve(boost::asio::ip::tcp::socket socket);

  // Declared before everything the network thread's handlers reach, so
  // that the handlers it still holds go before them.
  FoxgloveSettings settings_;
  std::string sessionId_;
  FoxgloveHub hub_;
  boost::asio::io_context network_;
  std::optional<boost::asio::ssl::context> tls_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::string url_;
  std::unique_ptr<FoxgloveMapFeed> feed_;
  std::thread thread_;
};

#endif // FOXGLOVESERVER_H
