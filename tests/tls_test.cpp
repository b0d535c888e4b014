// KorventComp over omniORB's TLS transport with client certificates: who
// gets in, who is refused, and that a refused client changes nothing.
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TestCertificates.h"

#include <rtm/orb/TransportSecurity.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  // This test process is the trusted client: its ORB must know its
  // certificate before it starts, so the authorities live as long as it.
  struct Authorities
  {
    TestCertificates trusted{"trusted test CA"};
    TestCertificates stranger{"stranger test CA"};
    std::string serverCertificate = trusted.certificateFor("server");

    Authorities()
    {
      RTC::TlsSettings tls;
      tls.caFile = trusted.authorityFile();
      tls.certificate = trusted.certificateFor("test-client");
      RTC::applyTlsSettings(tls);
    }
  };

  Authorities& authorities()
  {
    static Authorities instance;
    return instance;
  }

  class Tls : public ::testing::Test
  {
  protected:
    void start(const std::string& mode)
    {
      authorities();
      names_.start();
      component_ = startKorventComp(names_.address(), {
          "-o", "corba.ssl.mode:" + mode,
          "-o", "corba.ssl.ca_file:" + authorities().trusted.authorityFile(),
          "-o", "corba.ssl.certificate:" + authorities().serverCertificate});
      ASSERT_TRUE(waitForKorventName(names_)) << component_->errorOutput();
      CORBA::Object_var object = names_.resolve(korventName());
      RTC::RTObject_var rtc = RTC::RTObject::_narrow(object);
      service_ = providedService(clientOrb(), rtc);
      ASSERT_FALSE(CORBA::is_nil(service_));
    }

    void TearDown() override
    {
      if (component_) {
        std::optional<int> status = component_->stop(SIGTERM, 20s);
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component_->errorOutput();
      }
    }

    // A round trip by another client process; true when it got through.
    bool otherClientGetsThrough(const std::vector<std::string>& tlsOptions)
    {
      std::vector<std::string> argv{MAP_ROUNDTRIP_PATH, "--name-server", names_.address(),
                                    "--name", korventName(), "--bytes", "4096", "--timeout", "5000"};
      argv.insert(argv.end(), tlsOptions.begin(), tlsOptions.end());
      ChildProcess client(argv);
      std::optional<int> status = client.wait(30s);
      return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    std::vector<CORBA::Octet> storedOctets(CORBA::Short& width)
    {
      RTC::TimedOctetSeq map;
      CORBA::Short height = 0;
      service_->getGridMap(width, height, map);
      return octetsOf(map);
    }

    NameServer names_;
    std::unique_ptr<ChildProcess> component_;
    Korvent_var service_;
  };
}

TEST_F(Tls, OnlyClientsOfTheTrustedAuthorityGetInAndRefusedOnesChangeNothing)
{
  start("only");
  const std::vector<CORBA::Octet> octets{1, 2, 3, 0, 255, 128};
  service_->setGridMap(6, 1, makeMap(octets));
  CORBA::Short width = 0;
  EXPECT_EQ(octets, storedOctets(width));

  EXPECT_TRUE(otherClientGetsThrough({"--ca", authorities().trusted.authorityFile(),
                                      "--cert", authorities().trusted.certificateFor("other-client")}));
  service_->setGridMap(6, 1, makeMap(octets));

  const std::pair<const char*, std::vector<std::string>> refused[] = {
    {"no certificate", {"--ca", authorities().trusted.authorityFile()}},
    {"another authority's certificate", {"--ca", authorities().stranger.authorityFile(),
                                         "--cert", authorities().stranger.certificateFor("intruder")}},
    {"plaintext", {}},
  };
  for (const auto& [who, options] : refused) {
    EXPECT_FALSE(otherClientGetsThrough(options)) << who;
    EXPECT_EQ(octets, storedOctets(width)) << who;
    EXPECT_EQ(6, width) << who;
  }
}

TEST_F(Tls, MixedModeServesPlaintextAndTrustedClientsAlike)
{
  start("mixed");
  EXPECT_TRUE(otherClientGetsThrough({}));
  EXPECT_TRUE(otherClientGetsThrough({"--ca", authorities().trusted.authorityFile(),
                                      "--cert", authorities().trusted.certificateFor("other-client")}));
  // Mixed mode keeps nobody out: a client refused over TLS falls back to
  // the plaintext address that the same reference carries.
  EXPECT_TRUE(otherClientGetsThrough({"--ca", authorities().stranger.authorityFile(),
                                      "--cert", authorities().stranger.certificateFor("intruder")}));
}
