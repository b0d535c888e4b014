#ifndef MAPIO_MAPLOGREPLAY_H
#define MAPIO_MAPLOGREPLAY_H

#include "mapio/StoreFile.h"

#include <cstdint>
#include <string>

namespace mapio
{
  // What replaying a map log found.
  struct LogReplay
  {
    bool exists = false;
    std::uint64_t intactBytes = 0;  // where appending may go on
    std::string tailProblem;        // a damaged tail that was dropped, else empty
  };

  // Applies the records of the log at `path` that follow `map`'s version to
  // `map`, in order, checking each: the map ends at the version of the last
  // intact record.  Records the map holds already (a log older than the
  // store file, left by a crash between the two renames of a compaction)
  // are skipped.  Throws MapError for damage in the middle, a record that
  // does not follow the one before, a rectangle outside the map, or a
  // damaged description.
  LogReplay replayMapLog(const std::string& path, StoredMap& map);
}

#endif // MAPIO_MAPLOGREPLAY_H
