#ifndef MAPIO_MAPLOGREADER_H
#define MAPIO_MAPLOGREADER_H

#include "mapio/MapLog.h"

#include <cstdint>
#include <string>

namespace mapio
{
  // Reads a map log (see MapLog.h) record by record, checking each.  A
  // record that is torn or damaged and is not followed by an intact last
  // record is the log's damaged tail: reading ends before it, and
  // tailProblem() says why.  One followed by an intact last record is
  // damage in the middle, and throws MapError.
  class MapLogReader
  {
  public:
    // Throws MapError for a file that cannot be opened or a damaged header.
    explicit MapLogReader(const std::string& path);
    ~MapLogReader();
    MapLogReader(const MapLogReader&) = delete;
    MapLogReader& operator=(const MapLogReader&) = delete;

    std::uint64_t baseVersion() const { return baseVersion_; }

    // The next intact record; false at the end or before a damaged tail.
    bool next(LogRecord& record);

    // The length of the log up to the end of the last intact record read.
    std::uint64_t intactBytes() const { return offset_; }
    // Why the tail was dropped; empty when the log ended cleanly.
    const std::string& tailProblem() const { return tailProblem_; }

  private:
    bool readAt(std::uint64_t at, void* into, std::size_t length) const;
    // Whether an intact record ends the file and starts after `after`.
    bool intactLastRecordAfter(std::uint64_t after) const;
    // Ends reading at a damaged record at offset_, or throws.
    bool damaged(const std::string& why);

    std::string path_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint64_t baseVersion_ = 0;
    std::uint64_t offset_ = 0;
    std::string tailProblem_;
    std::string buffer_;
  };
}

#endif // MAPIO_MAPLOGREADER_H
