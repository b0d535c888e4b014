#include "store/StoreLock.h"

#include "mapio/MapError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace
{
  struct flock wholeFile(short type)
  {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    return range;
  }
}

StoreLock::StoreLock(const std::string& storePath)
{
  const std::string lockPath = storePath + ".lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0)
    throw mapio::MapError("cannot open the store's lock file: " + mapio::systemError(errno), lockPath);
  for (;;) {
    struct flock wanted = wholeFile(F_WRLCK);
    if (::fcntl(fd_, F_SETLK, &wanted) == 0)
      return;
    const int error = errno;
    if (error == EINTR)
      continue;
    if (error != EACCES && error != EAGAIN) {
      ::close(fd_);
      throw mapio::MapError("cannot lock the store's lock file: " + mapio::systemError(error), lockPath);
    }
    struct flock holder = wholeFile(F_WRLCK);
    if (::fcntl(fd_, F_GETLK, &holder) == 0 && holder.l_type == F_UNLCK)
      continue;  // the holder ended meanwhile
    ::close(fd_);
    const std::string who = holder.l_pid > 0 ? "process " + std::to_string(holder.l_pid) : "another process";
    throw mapio::MapError("the store is in use by " + who + ": one process per store", storePath);
  }
}

StoreLock::~StoreLock()
{
  if (fd_ >= 0)
    ::close(fd_);
}

StoreLock::StoreLock(StoreLock&& other) noexcept : fd_(std::exchange(other.fd_, -1))
{
}

StoreLock& StoreLock::operator=(StoreLock&& other) noexcept
{
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}
