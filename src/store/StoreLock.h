#ifndef STORELOCK_H
#define STORELOCK_H

#include <string>

// Keeps a store to one process: two processes writing one store would each
// replace the other's files and lose the other's acknowledged writes.  Holds
// a write lock (fcntl) on <store>.lock while it lives; the kernel lets it go
// with the process however it ends, SIGKILL included, and names the holder's
// PID to the next process that asks, without a file to read or go stale.
class StoreLock
{
public:
  // Throws mapio::MapError naming the store and the PID holding it, or why
  // the lock file cannot be opened.
  explicit StoreLock(const std::string& storePath);
  ~StoreLock();
  StoreLock(StoreLock&& other) noexcept;
  StoreLock& operator=(StoreLock&& other) noexcept;

private:
  int fd_ = -1;
};

#endif // STORELOCK_H
