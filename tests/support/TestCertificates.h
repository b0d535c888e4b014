#ifndef TESTS_SUPPORT_TESTCERTIFICATES_H
#define TESTS_SUPPORT_TESTCERTIFICATES_H

#include <string>

// A throwaway certificate authority made with the openssl command-line tool
// in a temporary folder, removed with the object.  Certificates it signs
// are PEM files holding the private key and the certificate, as omniORB's
// TLS transport reads them.
class TestCertificates
{
public:
  explicit TestCertificates(const std::string& authorityName);
  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  std::string authorityFile() const { return folder_ + "/ca.pem"; }
  // Makes (once) and returns a key and certificate signed by this authority.
  std::string certificateFor(const std::string& commonName);

private:
  std::string folder_;
};

#endif // TESTS_SUPPORT_TESTCERTIFICATES_H
