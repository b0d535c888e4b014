#include "foxglove/FoxgloveServer.h"

#include "foxglove/FoxgloveSession.h"

#include <rtm/orb/TransportSecurity.h>
#include <rtm/util/ConfigError.h>
#include <rtm/util/Logger.h>

#include <boost/asio/post.hpp>

#include <chrono>

namespace
{
  using Plain = FoxgloveSession<boost::beast::tcp_stream>;
  using Secure = FoxgloveSession<boost::beast::ssl_stream<boost::beast::tcp_stream>>;
}

FoxgloveServer::FoxgloveServer(const FoxgloveSettings& settings, GridMapStore& store)
  : settings_(settings),
    sessionId_(std::to_string(std::chrono::system_clock::now().time_since_epoch().count())),
    hub_(settings.maxConnections, [this](bool watched) { feed_->setWatched(watched); }),
    acceptor_(network_)
{
  if (settings_.tls) {
    tls_.emplace(boost::asio::ssl::context::tls_server);
    if (!RTC::configureTlsServer(*tls_->native_handle(), *settings_.tls))
      throw RTC::ConfigError("cannot use the TLS certificate '" + settings_.tls->certificate + "' or authority '" +
                             settings_.tls->caFile + "' for korvent.foxglove.endpoint");
  }
  try {
    // A host name as the web view takes one: its first address.
    boost::asio::ip::tcp::resolver resolver(network_);
    const boost::asio::ip::tcp::endpoint endpoint =
      resolver.resolve(settings_.host, std::to_string(settings_.port)).begin()->endpoint();
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
  }
  catch (const boost::system::system_error& error) {
    throw RTC::ConfigError("cannot listen on korvent.foxglove.endpoint " + settings_.host + ":" +
                           std::to_string(settings_.port) + ": " + error.code().message());
  }
  const auto bound = acceptor_.local_endpoint();
  const std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                   : bound.address().to_string();
  url_ = std::string(tls_ ? "wss://" : "ws://") + host + ":" + std::to_string(bound.port());
  feed_ = std::make_unique<FoxgloveMapFeed>(store, settings_.cells, [this](const FoxgloveMapFeed::VersionPtr& version) {
    boost::asio::post(network_, [this, version] { hub_.deliver(version); });
  });
  accept();
  thread_ = std::thread([this] { network_.run(); });
}

FoxgloveServer::~FoxgloveServer()
{
  // Every connection ends where it stands; the feed goes after the network
  // thread, which tells it when nobody watches any more.
  boost::asio::post(network_, [this] {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    hub_.closeAll();
    network_.stop();
  });
  thread_.join();
  feed_.reset();
}

void FoxgloveServer::accept()
{
  acceptor_.async_accept([this](boost::system::error_code error, boost::asio::ip::tcp::socket socket) {
    if (error == boost::asio::error::operation_aborted)
      return;
    if (!error)
      serve(std::move(socket));
    accept();
  });
}

void FoxgloveServer::serve(boost::asio::ip::tcp::socket socket)
{
  std::shared_ptr<FoxgloveViewer> viewer;
  std::function<void()> start;
  if (tls_) {
    auto session = std::make_shared<Secure>(hub_, settings_, sessionId_, std::move(socket), *tls_);
    viewer = session;
    start = [session] { session->start(); };
  }
  else {
    auto session = std::make_shared<Plain>(hub_, settings_, sessionId_, std::move(socket));
    viewer = session;
    start = [session] { session->start(); };
  }
  if (!hub_.join(viewer)) {
    RTC::logger().warn("Foxglove endpoint: refused a connection: " + std::to_string(settings_.maxConnections) +
                       " viewers are connected (korvent.foxglove.max_connections)");
    return;  // the socket closes with the session
  }
  start();
}
