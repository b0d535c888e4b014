#ifndef WRITEACKNOWLEDGEMENT_H
#define WRITEACKNOWLEDGEMENT_H

#include "store/GridMapStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// The durable map's answer to the writes that wait for the disk: how far
// the files got, and whether they take writes at all.  A failed save, or a
// record not written within the bound, refuses every region and description
// write until the next save succeeds.  Shared with the store, which may ask
// it after the writer ended.
class WriteAcknowledgement : public GridMapStore::Durability
{
public:
  explicit WriteAcknowledgement(std::chrono::milliseconds bound);

  void admit(std::uint64_t currentVersion) const override;
  void await(std::uint64_t version) const override;

  // The files hold the maps up to `version`: writes are taken again.
  void written(std::uint64_t version);
  // A save failed, saying why: the writes waiting fail, new ones are refused.
  void failed(const std::string& why);
  // The writer ended: nothing more gets written.
  void stopped();

private:
  const std::chrono::milliseconds bound_;
  mutable std::mutex mutex_;  // guards the three below
  mutable std::condition_variable changed_;
  std::uint64_t written_ = 0;
  mutable std::string refusal_;  // why writes are refused; empty while they are taken
  bool stopped_ = false;
};

#endif // WRITEACKNOWLEDGEMENT_H
