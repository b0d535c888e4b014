#ifndef MAPIO_ATOMICFILE_H
#define MAPIO_ATOMICFILE_H

#include <cstddef>
#include <string>

namespace mapio
{
  // A file that appears under its name complete or not at all: it is
  // written to a temporary file beside the target, which commit() renames
  // over the target.  Until then the target is untouched, and a file never
  // committed is removed by the destructor.
  class AtomicFile
  {
  public:
    // Synced: the content and the rename survive a crash or power loss
    // (fsync of the file before, of the folder after the rename).
    enum class Durability { Plain, Synced };

    explicit AtomicFile(const std::string& path);  // throws MapError
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const void* data, std::size_t length);  // throws MapError
    void commit(Durability durability);                // throws MapError

    const std::string& path() const { return path_; }

  private:
    void discard();

    std::string path_;
    std::string temporaryPath_;
    int fd_ = -1;
    bool committed_ = false;
  };

  // Removes the temporary files that AtomicFiles of `path` left behind in
  // processes that no longer run (killed in the middle of a write).
  void removeStaleTemporaries(const std::string& path);

  // Writes `bytes` as the whole file at `path` through an AtomicFile.
  void writeFileAtomically(const std::string& path, const std::string& bytes,
                           AtomicFile::Durability durability);
}

#endif // MAPIO_ATOMICFILE_H
