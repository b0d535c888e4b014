#ifndef FOXGLOVEHUB_H
#define FOXGLOVEHUB_H

#include "foxglove/FoxgloveMapFeed.h"
#include "foxglove/FoxgloveViewer.h"

#include <functional>
#include <map>
#include <memory>

// The viewers of one endpoint and the newest version they are sent.  Used
// on the endpoint's network thread only, so it needs no lock; it tells the
// feed whether anyone subscribes.
class FoxgloveHub
{
public:
  using Watch = std::function<void(bool watched)>;
  FoxgloveHub(int maxViewers, Watch watch);

  // False, and the viewer is not kept, when maxViewers are connected.
  bool join(const std::shared_ptr<FoxgloveViewer>& viewer);
  // Forgets the viewer, which had `subscriptions` subscriptions.
  void leave(const FoxgloveViewer& viewer, int subscriptions);
  // A viewer subscribed (+1) or unsubscribed (-1).
  void subscribed(int change);
  // The newest version encoded while someone watches; null before one is.
  const FoxgloveMapFeed::VersionPtr& current() const { return current_; }
  // A new version, offered to every viewer.
  void deliver(const FoxgloveMapFeed::VersionPtr& version);
  void closeAll();

private:
  int maxViewers_;
  Watch watch_;
  std::map<const FoxgloveViewer*, std::shared_ptr<FoxgloveViewer>> viewers_;
  int subscriptions_ = 0;
  FoxgloveMapFeed::VersionPtr current_;
};

#endif // FOXGLOVEHUB_H
