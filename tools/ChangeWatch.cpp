#include "ChangeWatch.h"

#include "ChangeLine.h"
#include "MapFollower.h"

#include "mapio/MapError.h"
#include "mapio/MapFile.h"

#include <chrono>
#include <iostream>
#include <optional>

namespace
{
  // What a watch missed while its connection was lost, told by the first
  // change after it (the component's newest) or, when none comes, by the
  // stored version.
  std::optional<std::string> missed(std::uint64_t seen, const std::optional<korvent::MapChange>& change,
                                    KorventConnection& korvent)
  {
    if (change) {
      // Versions jump at a restart: none of those between were handed out.
      if (change->version < seen || (seen != 0 && change->runFloor >= seen))
        return "the component restarted; versions go on from " + std::to_string(change->version);
      if (change->version <= seen + 1)
        return std::string("nothing missed");
      return "missed version" + std::string(change->version == seen + 2 ? " " : "s ") + std::to_string(seen + 1) +
             (change->version == seen + 2 ? "" : " to " + std::to_string(change->version - 1));
    }
    try {
      if (korvent.version() == seen)
        return std::string("nothing missed");
    }
    catch (const mapio::MapError&) {
      return std::string("what was missed is not known (the stored version cannot be asked)");
    }
    return std::nullopt;  // the newest change is on its way
  }
}

void watchChanges(KorventConnection& korvent, const std::string& file, volatile std::sig_atomic_t& interrupted)
{
  MapFollower follower(korvent);
  std::uint64_t seen = 0;
  std::uint64_t reconnections = 0;
  bool reconnected = false;
  std::optional<korvent::MapChange> unfetched;
  bool fetchFailed = false;
  bool toldUnreachable = false;
  while (!interrupted) {
    std::optional<korvent::MapChange> change = korvent.waitForChange(seen, std::chrono::milliseconds(200));
    if (korvent.changeReconnections() != reconnections) {
      reconnections = korvent.changeReconnections();
      reconnected = true;
    }
    // Said once per outage; the reconnections it makes are not news.
    if (const std::string address = korvent.changesUnreachable(); !address.empty()) {
      if (!toldUnreachable)
        std::cerr << "korvent-map: the component cannot push changes to " << address
                  << ", the address this process publishes (set -ORBendPoint or -ORBendPointPublish to one it can"
                     " reach); trying again less and less often"
                  << std::endl;
      toldUnreachable = true;
      reconnected = false;
    }
    else if (change) {
      toldUnreachable = false;
    }
    if (reconnected) {
      if (const std::optional<std::string> what = missed(seen, change, korvent)) {
        std::cerr << "korvent-map: the change connection was lost and is made again; " << *what << std::endl;
        reconnected = false;
      }
    }
    if (change) {
      seen = change->version;
      std::cout << describeChange(*change) << std::endl;
      unfetched = change;
    }
    if (file.empty() || !unfetched)
      continue;
    try {
      const std::string fetched = follower.apply(*unfetched);
      mapio::writeMapFile(file, follower.copy(), mapio::MapWriteOptions());
      std::cout << fetched << " into " << file << std::endl;
      unfetched.reset();
      fetchFailed = false;
    }
    catch (const mapio::MapError& error) {
      if (!fetchFailed)
        std::cerr << "korvent-map: fetching version " << unfetched->version << " failed, retrying: " << error.what()
                  << std::endl;
      fetchFailed = true;
    }
  }
}
