#include "web/MapHttpServer.h"

#include "web/BoundedTaskQueue.h"

#include <rtm/manager/ManagerConfig.h>
#include <rtm/orb/TransportSecurity.h>

namespace
{
  // Only GET and HEAD are routed; no request has a body worth reading.
  constexpr std::size_t largestBody = 1024;
  // An idle kept-alive connection holds one of the serving threads, and
  // stopping waits for it: long enough for a page's next poll to reuse it.
  constexpr time_t keepAliveSeconds = 1;

  std::unique_ptr<httplib::Server> makeServer(const HttpSettings& settings)
  {
    if (!settings.tls)
      return std::make_unique<httplib::Server>();
    const RTC::TlsSettings tls = *settings.tls;
    bool configured = false;
    auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& context) {
      configured = RTC::configureTlsServer(context, tls);
      return configured;
    });
    if (!configured || !server->is_valid())
      throw RTC::ConfigError("cannot use the TLS certificate '" + tls.certificate + "' or authority '" + tls.caFile +
                             "' for korvent.http.endpoint");
    return server;
  }
}

MapHttpServer::MapHttpServer(const HttpSettings& settings, const GridMapStore& store)
  : routes_(store, settings.renderSlots, settings.cacheBytes),
    server_(makeServer(settings)),
    secure_(settings.tls.has_value())
{
  const int threads = settings.maxConnections;
  // httplib owns and deletes the queue when its accept loop ends.
  server_->new_task_queue = [this, threads] { return new BoundedTaskQueue(threads, threads, stopping_); };
  const time_t timeout = static_cast<time_t>(settings.timeout.count());
  server_->set_read_timeout(timeout);
  server_->set_write_timeout(timeout);
  server_->set_keep_alive_timeout(keepAliveSeconds);
  server_->set_keep_alive_max_count(100);
  server_->set_payload_max_length(largestBody);
  routes_.install(*server_);

  int port = settings.port;
  if (port == 0)
    port = server_->bind_to_any_port(settings.host);
  else if (!server_->bind_to_port(settings.host, port))
    port = -1;
  if (port < 0)
    throw RTC::ConfigError("cannot listen on korvent.http.endpoint " + settings.host + ":" +
                           std::to_string(settings.port));
  const bool bracketed = settings.host.find(':') != std::string::npos;
  address_ = (bracketed ? "[" + settings.host + "]" : settings.host) + ":" + std::to_string(port);
  listener_ = std::thread([this] { server_->listen_after_bind(); });
}

MapHttpServer::~MapHttpServer()
{
  stop();
}

std::string MapHttpServer::url() const
{
  return (secure_ ? "https://" : "http://") + address_ + "/";
}

void MapHttpServer::stop()
{
  if (!listener_.joinable())
    return;
  stopping_ = true;
  server_->stop();
  listener_.join();
}
