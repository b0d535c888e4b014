#include "foxglove/FoxgloveHub.h"

#include <vector>

FoxgloveHub::FoxgloveHub(int maxViewers, Watch watch) : maxViewers_(maxViewers), watch_(std::move(watch)) {}

bool FoxgloveHub::join(const std::shared_ptr<FoxgloveViewer>& viewer)
{
  if (static_cast<int>(viewers_.size()) >= maxViewers_)
    return false;
  viewers_.emplace(viewer.get(), viewer);
  return true;
}

void FoxgloveHub::leave(const FoxgloveViewer& viewer, int subscriptions)
{
  viewers_.erase(&viewer);
  if (subscriptions > 0)
    subscribed(-subscriptions);
}

void FoxgloveHub::subscribed(int change)
{
  const bool watched = subscriptions_ > 0;
  subscriptions_ += change;
  if (watched == (subscriptions_ > 0))
    return;
  // Nobody left to send it to: the memory goes, and the next watcher gets
  // the newest version encoded for it.
  if (subscriptions_ == 0)
    current_.reset();
  watch_(subscriptions_ > 0);
}

void FoxgloveHub::deliver(const FoxgloveMapFeed::VersionPtr& version)
{
  current_ = version;
  for (const auto& entry : viewers_)
    entry.second->offer(version);
}

void FoxgloveHub::closeAll()
{
  // Closing may call leave(), which changes the map.
  std::vector<std::shared_ptr<FoxgloveViewer>> viewers;
  for (const auto& entry : viewers_)
    viewers.push_back(entry.second);
  for (const auto& viewer : viewers)
    viewer->close();
}
