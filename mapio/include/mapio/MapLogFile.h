#ifndef MAPIO_MAPLOGFILE_H
#define MAPIO_MAPLOGFILE_H

#include <cstdint>
#include <string>

namespace mapio
{
  // A map log (see MapLog.h) open for appending.
  class MapLogFile
  {
  public:
    // Replaces the log at `path` crash-safely with one holding the header
    // for `baseVersion`, then `records` (whole records, already encoded),
    // and opens it.  Throws MapError.
    static MapLogFile create(const std::string& path, std::uint64_t baseVersion, const std::string& records = "");

    // Opens the log at `path` for appending after its first `intactBytes`,
    // cutting off a damaged tail behind them.  Throws MapError.
    MapLogFile(const std::string& path, std::uint64_t intactBytes);
    ~MapLogFile();
    MapLogFile(MapLogFile&& other) noexcept;
    MapLogFile& operator=(MapLogFile&& other) noexcept;

    // write(2) only: a killed process keeps what this wrote, a power loss
    // only what sync() saw.  Throws MapError.
    void append(const std::string& records);
    void sync();  // throws MapError

    // Syncs what was appended through its own descriptor of the file, so
    // that another thread can wait for the disk while appends go on, and
    // the log can be replaced meanwhile.
    class Syncer
    {
    public:
      explicit Syncer(const MapLogFile& log);  // throws MapError
      ~Syncer();
      Syncer(const Syncer&) = delete;
      Syncer& operator=(const Syncer&) = delete;
      void sync() const;  // throws MapError

    private:
      std::string path_;
      int fd_ = -1;
    };
    // The octets from `from` to the end, as appended.
    std::string readFrom(std::uint64_t from) const;

    std::uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

  private:
    MapLogFile() = default;

    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
  };
}

#endif // MAPIO_MAPLOGFILE_H
