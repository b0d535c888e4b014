// The manager's configuration: an rtc.conf and a command line.  The input
// up to its first NUL byte is the file; what follows, split at NUL bytes,
// is the command line after "-f <that file>".
#include "FuzzCheck.h"

#include "rtm/manager/ManagerConfig.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace
{
  // The file lives as long as the process, in $TMPDIR (the runner's scratch
  // folder, removed with it).
  class ScratchFile
  {
  public:
    ScratchFile()
    {
      const char* folder = std::getenv("TMPDIR");
      std::string pattern = std::string(folder ? folder : "/tmp") + "/rtc.conf.XXXXXX";
      const int fd = ::mkstemp(&pattern[0]);
      fuzzRequire(fd >= 0, "cannot make a scratch file");
      ::close(fd);
      path_ = pattern;
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }

    void write(const std::string& content) const
    {
      std::ofstream out(path_, std::ios::binary | std::ios::trunc);
      out << content;
      fuzzRequire(static_cast<bool>(out), "cannot write the scratch file");
    }

    const std::string& path() const { return path_; }

  private:
    std::string path_;
  };
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  static const ScratchFile file;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t fileEnd = std::min(input.find('\0'), input.size());
  std::vector<std::string> words{"fuzz", "-f", file.path()};
  for (std::size_t at = fileEnd; at < input.size();) {
    const std::size_t next = std::min(input.find('\0', at + 1), input.size());
    words.push_back(input.substr(at + 1, next - at - 1));
    at = next;
  }
  // Another -f would read whatever file the input names; the file's text
  // is fuzzed through the first one.
  if (std::count(words.begin(), words.end(), "-f") > 1)
    return 0;
  file.write(input.substr(0, fileEnd));

  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(&word[0]);
  const int argc = static_cast<int>(argv.size());
  try {
    const RTC::Properties config = RTC::loadManagerConfig(argc, argv.data());
    const std::vector<std::string> orbArgs = RTC::orbArguments(config, argc, argv.data());
    fuzzRequire(orbArgs.size() > 1, "no ORB arguments for a configuration that loads");
    RTC::unusedFrameworkKeys(config);
  }
  catch (const RTC::ConfigError& error) {
    fuzzRequireOneLine(error.what());
  }
  return 0;
}
