#ifndef MAPCRC_H
#define MAPCRC_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// The CRC-32 of one version's whole map, computed when first asked.  A map
// stored whole computes it over its buffer; a version made by a region
// write knows it from the version it was built on and the change (see
// mapio::Crc32Patch), so no whole map is ever joined for it.  When that
// version's CRC is not known yet either, this one links to it until asked;
// a known CRC lets its links and buffer go.
class MapCrc
{
public:
  using Buffer = std::shared_ptr<const std::string>;

  explicit MapCrc(Buffer whole);
  // The CRC of `base` XOR `change`.
  MapCrc(const std::shared_ptr<const MapCrc>& base, std::uint32_t change);
  MapCrc(const MapCrc&) = delete;
  MapCrc& operator=(const MapCrc&) = delete;

  // Throws bad_alloc, and then the CRC can still be asked for later.
  std::uint32_t value() const;

private:
  // Resolves this link from its base, whose CRC is known.
  void resolveFrom(std::uint32_t baseValue) const;

  mutable std::mutex mutex_;  // guards all below but known_
  mutable std::atomic<bool> known_{false};
  mutable std::uint32_t value_ = 0;
  mutable Buffer whole_;
  mutable std::shared_ptr<const MapCrc> base_;
  std::uint32_t change_ = 0;
};

#endif // MAPCRC_H
