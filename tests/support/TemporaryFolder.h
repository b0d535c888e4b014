#ifndef TESTS_SUPPORT_TEMPORARYFOLDER_H
#define TESTS_SUPPORT_TEMPORARYFOLDER_H

#include <string>
#include <vector>

// A fresh folder under /tmp, removed with everything in it.
class TemporaryFolder
{
public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Names of the entries, sorted.
  std::vector<std::string> entries() const;
  static std::vector<std::string> entriesOf(const std::string& folder);

private:
  std::string path_;
};

// Whole-file helpers for tests.
std::string fileContent(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

#endif // TESTS_SUPPORT_TEMPORARYFOLDER_H
