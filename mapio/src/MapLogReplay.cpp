#include "mapio/MapLogReplay.h"

#include "mapio/MapError.h"
#include "mapio/MapLogReader.h"
#include "mapio/StoreDescription.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace mapio
{
  LogReplay replayMapLog(const std::string& path, StoredMap& map)
  {
    LogReplay replay;
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
      return replay;
    replay.exists = true;
    MapLogReader reader(path);
    if (reader.baseVersion() > map.version)
      throw MapError("the map log follows version " + std::to_string(reader.baseVersion()) +
                     ", later than the store file's " + std::to_string(map.version), path);
    LogRecord record;
    while (reader.next(record)) {
      if ((record.kind != maplog::regionKind && record.kind != maplog::descriptionKind) ||
          record.version <= map.version)
        continue;
      if (record.base != map.version)
        throw MapError("map log record of version " + std::to_string(record.version) + " follows version " +
                       std::to_string(record.base) + ", not " + std::to_string(map.version), path);
      if (record.kind == maplog::descriptionKind) {
        map.description = decodeDescriptionSection(record.cells, path);
        map.version = record.version;
        continue;
      }
      if (!map.sizeAgrees() || record.x < 0 || record.y < 0 || record.x > map.width - record.width ||
          record.y > map.height - record.height)
        throw MapError("map log record of version " + std::to_string(record.version) +
                       " is not inside the map", path);
      for (int row = 0; row < record.height; ++row)
        std::memcpy(map.cells.data() + static_cast<std::size_t>(record.y + row) * map.width + record.x,
                    record.cells.data() + static_cast<std::size_t>(row) * record.width,
                    static_cast<std::size_t>(record.width));
      map.version = record.version;
    }
    replay.intactBytes = reader.intactBytes();
    replay.tailProblem = reader.tailProblem();
    return replay;
  }
}
