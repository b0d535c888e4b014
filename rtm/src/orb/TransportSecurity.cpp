#include "rtm/orb/TransportSecurity.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/sslContext.h>

#include <fstream>
#include <stdexcept>

namespace RTC
{
  namespace
  {
    void mustRead(const std::string& path, const char* what)
    {
      if (path.empty() || !std::ifstream(path).good())
        throw std::runtime_error(std::string("cannot read the TLS ") + what + " '" + path + "'");
    }
  }

  void applyTlsSettings(const TlsSettings& settings)
  {
    mustRead(settings.caFile, "certificate authority file");
    if (!settings.certificate.empty())
      mustRead(settings.certificate, "certificate file");
    // The transport keeps pointers to these for the life of the process.
    static std::string caFile, certificate, password;
    caFile = settings.caFile;
    certificate = settings.certificate;
    password = settings.keyPassword;
    sslContext::certificate_authority_file = caFile.c_str();
    sslContext::key_file = certificate.empty() ? nullptr : certificate.c_str();
    // Never null: the transport only loads the private key when a password
    // is given, and an empty one reads a key that has none.
    sslContext::key_file_password = password.c_str();
    switch (settings.verify) {
      case TlsSettings::Verify::None: sslContext::verify_mode = SSL_VERIFY_NONE; break;
      case TlsSettings::Verify::Peer: sslContext::verify_mode = SSL_VERIFY_PEER; break;
      case TlsSettings::Verify::Require:
        sslContext::verify_mode = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
        break;
    }
  }

  std::optional<TlsSettings> configuredTlsSettings(const Properties& config)
  {
    if (trimmed(config.getProperty("corba.ssl.mode", "off")) == "off")
      return std::nullopt;
    TlsSettings tls;
    tls.caFile = trimmed(config.getProperty("corba.ssl.ca_file"));
    tls.certificate = trimmed(config.getProperty("corba.ssl.certificate"));
    tls.keyPassword = config.getProperty("corba.ssl.key_password");
    const std::string verify = trimmed(config.getProperty("corba.ssl.verify", "require"));
    tls.verify = verify == "none"   ? TlsSettings::Verify::None
                 : verify == "peer" ? TlsSettings::Verify::Peer
                                    : TlsSettings::Verify::Require;
    return tls;
  }

  bool configureTlsServer(SSL_CTX& context, const TlsSettings& settings)
  {
    // OpenSSL reads the password through this pointer when it loads the key.
    static std::string password;
    password = settings.keyPassword;
    SSL_CTX_set_default_passwd_cb_userdata(&context, password.data());
    const bool keyLoaded = SSL_CTX_use_certificate_chain_file(&context, settings.certificate.c_str()) == 1 &&
                           SSL_CTX_use_PrivateKey_file(&context, settings.certificate.c_str(), SSL_FILETYPE_PEM) == 1;
    // Not left behind, whether the key loaded or not: a context wrapper
    // (asio's) takes any user data it finds for a callback object of its own
    // and deletes it when it goes.
    SSL_CTX_set_default_passwd_cb_userdata(&context, nullptr);
    SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
    if (!keyLoaded || SSL_CTX_check_private_key(&context) != 1 ||
        SSL_CTX_load_verify_locations(&context, settings.caFile.c_str(), nullptr) != 1)
      return false;
    SSL_CTX_set_verify(&context,
                       settings.verify == TlsSettings::Verify::None   ? SSL_VERIFY_NONE
                       : settings.verify == TlsSettings::Verify::Peer ? SSL_VERIFY_PEER
                                                                       : SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       nullptr);
    return true;
  }
}
