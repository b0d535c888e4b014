#ifndef RTM_TRANSPORTSECURITY_H
#define RTM_TRANSPORTSECURITY_H

#include "rtm/util/Properties.h"

#include <openssl/ssl.h>

#include <optional>
#include <string>

namespace RTC
{
  // Files and checks for omniORB's TLS transport, for a server and for a
  // client alike.
  struct TlsSettings
  {
    std::string caFile;       // PEM: the authority whose certificates are trusted
    std::string certificate;  // PEM: this end's private key and certificate; a client may have none
    std::string keyPassword;  // of the private key, if it has one
    enum class Verify { None, Peer, Require } verify = Verify::Require;
  };

  // Configures the TLS transport; call before ORB_init.  Throws
  // std::runtime_error naming the file when one cannot be read.
  void applyTlsSettings(const TlsSettings& settings);

  // The settings the corba.ssl.* keys give, or nothing when corba.ssl.mode
  // is off; every TLS server of the process uses the same.
  std::optional<TlsSettings> configuredTlsSettings(const Properties& config);

  // Gives a server's OpenSSL context (TLS 1.2 and later) the certificate,
  // key and authority of `settings`, and checks clients as the ORB does.
  // False when a file cannot be used.
  bool configureTlsServer(SSL_CTX& context, const TlsSettings& settings);
}

#endif // RTM_TRANSPORTSECURITY_H
