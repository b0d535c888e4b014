#ifndef HTTPSETTINGS_H
#define HTTPSETTINGS_H

#include <rtm/util/Properties.h>
#include <rtm/orb/TransportSecurity.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// The web view's configuration:
//   korvent.http.endpoint          host:port to listen on; empty (the default): no web view
//   korvent.http.max_connections   connections served at once (8); more wait to be accepted
//   korvent.http.timeout           seconds a request may take to arrive and a reply to leave (5)
//   korvent.http.render_slots      images drawn at once (2); a request beyond gets 503
//   korvent.http.cache_mb          MiB of drawn images kept for the current map (32)
// and, when corba.ssl.mode is not off, the ORB's certificate keys for HTTPS.
struct HttpSettings
{
  std::string host;
  int port = 0;  // 0: any free port
  int maxConnections = 8;
  std::chrono::seconds timeout{5};
  int renderSlots = 2;
  std::size_t cacheBytes = std::size_t(32) << 20;
  std::optional<RTC::TlsSettings> tls;
};

// Nothing when the view is off.  Throws RTC::ConfigError naming the key
// whose value cannot be used.
std::optional<HttpSettings> httpSettingsOf(const RTC::Properties& config);

#endif // HTTPSETTINGS_H
