#include "mapio/AtomicFile.h"

#include "mapio/MapError.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace mapio
{
  namespace
  {
    std::string folderOf(const std::string& path)
    {
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos)
        return ".";
      return slash == 0 ? "/" : path.substr(0, slash);
    }

    void syncFolder(const std::string& path)
    {
      const std::string folder = folderOf(path);
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0)
        throw MapError("cannot open the folder to sync it: " + systemError(errno), folder);
      const int result = ::fsync(fd);
      const int error = errno;
      ::close(fd);
      if (result != 0)
        throw MapError("cannot sync the folder: " + systemError(error), folder);
    }

    // Temporary files of `path` are named <path>.tmp-<pid>-<n>.
    std::string temporaryPrefix(const std::string& path)
    {
      return path + ".tmp-";
    }
  }

  AtomicFile::AtomicFile(const std::string& path)
    : path_(path)
  {
    // A name of this process's own, so that concurrent writers of the same
    // target never share a temporary file; open() applies the umask.
    static std::atomic<unsigned> counter{0};
    const std::string prefix = temporaryPrefix(path) + std::to_string(::getpid()) + "-";
    for (;;) {
      temporaryPath_ = prefix + std::to_string(counter++);
      fd_ = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0)
        return;
      if (errno != EEXIST)
        throw MapError("cannot write: " + systemError(errno), path);
    }
  }

  AtomicFile::~AtomicFile()
  {
    if (!committed_)
      discard();
  }

  void AtomicFile::discard()
  {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
    ::unlink(temporaryPath_.c_str());
  }

  void AtomicFile::write(const void* data, std::size_t length)
  {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
      const ssize_t written = ::write(fd_, next, length);
      if (written < 0 && errno == EINTR)
        continue;
      if (written < 0)
        throw MapError("cannot write: " + systemError(errno), path_);
      next += written;
      length -= static_cast<std::size_t>(written);
    }
  }

  void AtomicFile::commit(Durability durability)
  {
    if (durability == Durability::Synced && ::fsync(fd_) != 0)
      throw MapError("cannot write: " + systemError(errno), path_);
    // close() reports delayed write errors of some file systems (NFS).
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
      throw MapError("cannot write: " + systemError(errno), path_);
    if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0)
      throw MapError("cannot write: " + systemError(errno), path_);
    committed_ = true;
    if (durability == Durability::Synced)
      syncFolder(path_);
  }

  void removeStaleTemporaries(const std::string& path)
  {
    const std::string folder = folderOf(path);
    const std::size_t slash = path.rfind('/');
    const std::string prefix = temporaryPrefix(slash == std::string::npos ? path : path.substr(slash + 1));
    DIR* entries = ::opendir(folder.c_str());
    if (!entries)
      return;
    while (const dirent* entry = ::readdir(entries)) {
      const std::string name = entry->d_name;
      if (name.compare(0, prefix.size(), prefix) != 0)
        continue;
      const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
      if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(entries);
  }

  void writeFileAtomically(const std::string& path, const std::string& bytes,
                           AtomicFile::Durability durability)
  {
    AtomicFile file(path);
    file.write(bytes.data(), bytes.size());
    file.commit(durability);
  }
}
