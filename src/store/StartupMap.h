#ifndef STARTUPMAP_H
#define STARTUPMAP_H

#include "store/DurableMapWriter.h"
#include "store/StoreLock.h"

#include <rtm/util/Properties.h>

#include <memory>
#include <optional>

// Fills the process's store before the component serves it, from the
// configuration's keys:
//   korvent.map.store            file that always holds the latest map, with
//                                the log of region writes beside it; loaded
//                                (and the log replayed) when it exists, and
//                                kept from then on
//   korvent.map.load             map file (YAML, PGM or PNG) loaded when no
//                                store file exists; a YAML brings its
//                                resolution, origin, mode and thresholds
//   korvent.map.load.occupancy   yes: load it as occupancy values (default no)
// Versions start above every version an earlier run handed out (see
// docs/regions.md): with a store file, the floor kept in <store>.run says
// where the last run started, and is moved on before this one serves.
// With a store file, the store is locked before anything of it is read.
// Returns the lock and the writer that keeps the store file, or neither
// without one; the temporary files of writers killed mid-write are removed
// first.  Throws mapio::MapError for a store another process holds, for a
// file that cannot be read or parsed, and for a store file that is not
// complete and intact.
struct ConfiguredStore
{
  std::optional<StoreLock> lock;  // for as long as the process serves the store
  std::unique_ptr<DurableMapWriter> writer;
};
ConfiguredStore loadConfiguredMap(const RTC::Properties& config);

#endif // STARTUPMAP_H
