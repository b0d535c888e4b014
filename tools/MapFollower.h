#ifndef MAPFOLLOWER_H
#define MAPFOLLOWER_H

#include "KorventConnection.h"

#include "mapio/GridMap.h"

#include <cstdint>
#include <optional>
#include <string>

// A local copy of the stored map kept equal to it from change events: an
// event that follows the last one applied fetches only its rectangle, or
// nothing when only the description changed; the
// first event, a whole-map change, a new size or a skipped version (events
// coalesce when maps come quickly, and while the change connection was
// lost) fetch the whole map, as does the event after a failed fetch.
class MapFollower
{
public:
  explicit MapFollower(KorventConnection& korvent) : korvent_(korvent) {}

  // Brings the copy up to `change`; returns what it fetched, for the log.
  // Throws mapio::MapError when the fetch fails.
  std::string apply(const korvent::MapChange& change);

  const mapio::GridMap& copy() const { return copy_; }

private:
  std::string fetchWhole();

  KorventConnection& korvent_;
  mapio::GridMap copy_;
  std::optional<std::uint64_t> lastVersion_;
};

#endif // MAPFOLLOWER_H
