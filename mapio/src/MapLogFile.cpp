#include "mapio/MapLogFile.h"

#include "mapio/AtomicFile.h"
#include "mapio/MapError.h"
#include "mapio/MapLog.h"
#include "PositionalIo.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace mapio
{
  MapLogFile MapLogFile::create(const std::string& path, std::uint64_t baseVersion, const std::string& records)
  {
    const std::string header = maplog::header(baseVersion);
    AtomicFile file(path);
    file.write(header.data(), header.size());
    file.write(records.data(), records.size());
    file.commit(AtomicFile::Durability::Synced);
    return MapLogFile(path, header.size() + records.size());
  }

  MapLogFile::MapLogFile(const std::string& path, std::uint64_t intactBytes)
    : path_(path), size_(intactBytes)
  {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
      throw MapError("cannot open the map log: " + systemError(errno), path);
    if (::ftruncate(fd_, static_cast<off_t>(intactBytes)) != 0 || ::fsync(fd_) != 0) {
      const int error = errno;
      ::close(fd_);
      throw MapError("cannot cut the map log: " + systemError(error), path);
    }
  }

  MapLogFile::~MapLogFile()
  {
    if (fd_ >= 0)
      ::close(fd_);
  }

  MapLogFile::MapLogFile(MapLogFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_)
  {
  }

  MapLogFile& MapLogFile::operator=(MapLogFile&& other) noexcept
  {
    if (this != &other) {
      if (fd_ >= 0)
        ::close(fd_);
      path_ = std::move(other.path_);
      fd_ = std::exchange(other.fd_, -1);
      size_ = other.size_;
    }
    return *this;
  }

  void MapLogFile::append(const std::string& records)
  {
    const std::size_t written = writeFully(fd_, records.data(), records.size(), size_);
    size_ += written;
    if (written < records.size())
      throw MapError("cannot append to the map log: " + systemError(errno), path_);
  }

  void MapLogFile::sync()
  {
    if (::fdatasync(fd_) != 0)
      throw MapError("cannot sync the map log: " + systemError(errno), path_);
  }

  MapLogFile::Syncer::Syncer(const MapLogFile& log)
    : path_(log.path_), fd_(::fcntl(log.fd_, F_DUPFD_CLOEXEC, 0))
  {
    if (fd_ < 0)
      throw MapError("cannot open the map log to sync it: " + systemError(errno), path_);
  }

  MapLogFile::Syncer::~Syncer()
  {
    ::close(fd_);
  }

  void MapLogFile::Syncer::sync() const
  {
    if (::fdatasync(fd_) != 0)
      throw MapError("cannot sync the map log: " + systemError(errno), path_);
  }

  std::string MapLogFile::readFrom(std::uint64_t from) const
  {
    std::string bytes(size_ - from, '\0');
    const int read = readFully(fd_, bytes.data(), bytes.size(), from);
    if (read != 1)
      throw MapError("cannot read the map log back: " + (read < 0 ? systemError(errno) : "it is shorter"), path_);
    return bytes;
  }
}
