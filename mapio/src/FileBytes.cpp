#include "mapio/FileBytes.h"

#include "mapio/MapError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mapio
{
  namespace
  {
    // Opens `path` and checks it is a regular file under the size limit;
    // returns the descriptor and its size.
    int openChecked(const std::string& path, std::uint64_t& size)
    {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        throw MapError("cannot read: " + systemError(errno), path);
      struct stat status;
      if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw MapError("cannot read: not a regular file", path);
      }
      size = static_cast<std::uint64_t>(status.st_size);
      if (size >= fileSizeLimit) {
        ::close(fd);
        throw MapError("file is 4 GiB or larger, more than any map can hold", path);
      }
      return fd;
    }
  }

  std::string readFileBytes(const std::string& path)
  {
    std::uint64_t size = 0;
    const int fd = openChecked(path, size);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = ::read(fd, &bytes[done], bytes.size() - done);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0) {
        const int error = got < 0 ? errno : 0;
        ::close(fd);
        throw MapError(error ? "cannot read: " + systemError(error)
                             : std::string("cannot read: file shrank while being read"),
                       path);
      }
      done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return bytes;
  }
}
