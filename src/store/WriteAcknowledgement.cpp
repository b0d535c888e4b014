#include "store/WriteAcknowledgement.h"

#include "store/RegionRefused.h"

#include <algorithm>

namespace
{
  const std::string takenAgain = "; writes are taken again once a save succeeds";
}

WriteAcknowledgement::WriteAcknowledgement(std::chrono::milliseconds bound) : bound_(bound)
{
}

void WriteAcknowledgement::admit(std::uint64_t currentVersion) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (!refusal_.empty())
    throw RegionRefused(RegionRefused::Reason::NotSaved, "write refused: " + refusal_ + takenAgain,
                        currentVersion);
}

void WriteAcknowledgement::await(std::uint64_t version) const
{
  std::unique_lock<std::mutex> lock(mutex_);
  const bool settled = changed_.wait_for(lock, bound_, [&] {
    return written_ >= version || !refusal_.empty() || stopped_;
  });
  if (written_ >= version)
    return;
  if (!settled)
    refusal_ = "the map store did not write version " + std::to_string(version) + " within " +
               std::to_string(bound_.count()) + " ms";
  const std::string why = refusal_.empty() ? "the component stopped" : refusal_;
  throw RegionRefused(RegionRefused::Reason::NotSaved,
                      "version " + std::to_string(version) + " is served from memory but not saved: " + why +
                          takenAgain,
                      version);
}

void WriteAcknowledgement::written(std::uint64_t version)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = std::max(written_, version);
    refusal_.clear();
  }
  changed_.notify_all();
}

void WriteAcknowledgement::failed(const std::string& why)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    refusal_ = "cannot save the map: " + why;
  }
  changed_.notify_all();
}

void WriteAcknowledgement::stopped()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}
