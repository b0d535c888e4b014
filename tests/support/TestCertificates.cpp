#include "TestCertificates.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace
{
  void openssl(const std::string& arguments)
  {
    const std::string command = "openssl " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
      throw std::runtime_error("test certificates: failed: " + command);
  }
}

TestCertificates::TestCertificates(const std::string& authorityName)
{
  char pattern[] = "/tmp/test-pki-XXXXXX";
  if (!mkdtemp(pattern))
    throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  openssl("req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + authorityName + "' -keyout " + folder_ +
          "/ca.key -out " + folder_ + "/ca.pem");
}

TestCertificates::~TestCertificates()
{
  std::filesystem::remove_all(folder_);
}

std::string TestCertificates::certificateFor(const std::string& commonName)
{
  const std::string stem = folder_ + "/" + commonName;
  if (std::filesystem::exists(stem + ".pem"))
    return stem + ".pem";
  openssl("req -newkey rsa:2048 -nodes -subj '/CN=" + commonName + "' -keyout " + stem + ".key -out " + stem +
          ".csr");
  openssl("x509 -req -days 2 -in " + stem + ".csr -CA " + folder_ + "/ca.pem -CAkey " + folder_ +
          "/ca.key -CAcreateserial -out " + stem + ".crt");
  std::ofstream out(stem + ".pem");
  out << std::ifstream(stem + ".key").rdbuf() << std::ifstream(stem + ".crt").rdbuf();
  return stem + ".pem";
}
