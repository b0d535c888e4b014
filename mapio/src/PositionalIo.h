#ifndef MAPIO_POSITIONALIO_H
#define MAPIO_POSITIONALIO_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

// pread and pwrite of whole lengths, retried after signals.
namespace mapio
{
  // `length` octets at `at`: 1 when all were read, 0 at the end of the
  // file first, -1 with errno set on an error.
  inline int readFully(int fd, void* into, std::size_t length, std::uint64_t at)
  {
    char* next = static_cast<char*>(into);
    while (length > 0) {
      const ssize_t got = ::pread(fd, next, length, static_cast<off_t>(at));
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        return got < 0 ? -1 : 0;
      next += got;
      at += static_cast<std::uint64_t>(got);
      length -= static_cast<std::size_t>(got);
    }
    return 1;
  }

  // Octets written at `at`, fewer than `length` only with errno set.
  inline std::size_t writeFully(int fd, const void* from, std::size_t length, std::uint64_t at)
  {
    const char* next = static_cast<const char*>(from);
    std::size_t done = 0;
    while (done < length) {
      const ssize_t written = ::pwrite(fd, next + done, length - done, static_cast<off_t>(at + done));
      if (written < 0 && errno == EINTR)
        continue;
      if (written < 0)
        break;
      done += static_cast<std::size_t>(written);
    }
    return done;
  }
}

#endif // MAPIO_POSITIONALIO_H
