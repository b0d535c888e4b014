#include "mapio/MapLogReader.h"

#include "mapio/Checksum.h"
#include "mapio/MapError.h"
#include "LittleEndian.h"
#include "PositionalIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mapio
{
  MapLogReader::MapLogReader(const std::string& path)
    : path_(path)
  {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd_ < 0 || ::fstat(fd_, &status) != 0)
      throw MapError("cannot read: " + systemError(errno), path);
    fileSize_ = static_cast<std::uint64_t>(status.st_size);
    std::string header(maplog::headerSize, '\0');
    if (!readAt(0, header.data(), header.size()) || header.compare(0, 8, std::string("KVNTLOG\0", 8)) != 0)
      throw MapError("not a map log (wrong magic number or too short)", path);
    if (getLittle(header, 8, 4) != 1 || getLittle(header, 12, 4) != maplog::headerSize)
      throw MapError("map log has format " + std::to_string(getLittle(header, 8, 4)) +
                     ", this program reads format 1", path);
    if (crc32Of(header.data() + 8, 20) != getLittle(header, 28, 4))
      throw MapError("map log is corrupt: header checksum mismatch", path);
    baseVersion_ = getLittle(header, 16, 8);
    offset_ = maplog::headerSize;
  }

  MapLogReader::~MapLogReader()
  {
    if (fd_ >= 0)
      ::close(fd_);
  }

  bool MapLogReader::readAt(std::uint64_t at, void* into, std::size_t length) const
  {
    const int read = readFully(fd_, into, length, at);
    if (read < 0)
      throw MapError("cannot read: " + systemError(errno), path_);
    return read == 1;
  }

  bool MapLogReader::intactLastRecordAfter(std::uint64_t after) const
  {
    std::string trailer(8, '\0');
    if (fileSize_ < after + maplog::recordOverhead || !readAt(fileSize_ - 8, trailer.data(), 8))
      return false;
    const std::uint64_t length = getLittle(trailer, 0, 4);
    if (length < maplog::recordOverhead || length > fileSize_ - after)
      return false;
    const std::uint64_t start = fileSize_ - length;
    if (start <= after)
      return false;
    std::string record(length, '\0');
    return readAt(start, record.data(), record.size()) && getLittle(record, 0, 4) == length &&
           crc32Of(record.data(), length - 4) == getLittle(record, length - 4, 4);
  }

  bool MapLogReader::damaged(const std::string& why)
  {
    if (intactLastRecordAfter(offset_))
      throw MapError("map log is corrupt: the record at offset " + std::to_string(offset_) + " " + why +
                     ", and intact records follow it", path_);
    tailProblem_ = "the record at offset " + std::to_string(offset_) + " " + why;
    return false;
  }

  bool MapLogReader::next(LogRecord& record)
  {
    if (!tailProblem_.empty() || offset_ == fileSize_)
      return false;
    if (fileSize_ - offset_ < maplog::recordOverhead)
      return damaged("is torn (" + std::to_string(fileSize_ - offset_) + " bytes)");
    buffer_.resize(40);
    readAt(offset_, buffer_.data(), 40);
    const std::uint64_t length = getLittle(buffer_, 0, 4);
    if (length < maplog::recordOverhead)
      return damaged("has an impossible length");
    if (length > fileSize_ - offset_)
      return damaged("is torn (" + std::to_string(fileSize_ - offset_) + " of " + std::to_string(length) +
                     " bytes)");
    buffer_.resize(length);
    readAt(offset_, buffer_.data(), length);
    if (crc32Of(buffer_.data(), length - 4) != getLittle(buffer_, length - 4, 4) ||
        getLittle(buffer_, length - 8, 4) != length)
      return damaged("is damaged (checksum mismatch)");

    record.kind = static_cast<std::uint32_t>(getLittle(buffer_, 4, 4));
    record.version = getLittle(buffer_, 8, 8);
    record.base = getLittle(buffer_, 16, 8);
    int* fields[] = {&record.x, &record.y, &record.width, &record.height};
    for (int i = 0; i < 4; ++i)
      *fields[i] = static_cast<int>(static_cast<std::uint32_t>(getLittle(buffer_, 24 + 4 * i, 4)));
    record.cells.assign(buffer_, 40, length - maplog::recordOverhead);
    if (record.kind == maplog::regionKind &&
        (record.width <= 0 || record.height <= 0 ||
         static_cast<std::uint64_t>(record.width) * static_cast<std::uint64_t>(record.height) != record.cells.size()))
      throw MapError("map log is corrupt: the record at offset " + std::to_string(offset_) +
                     " holds a rectangle that does not match its cells", path_);
    offset_ += length;
    return true;
  }
}
