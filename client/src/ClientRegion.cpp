// The region calls of korvent::Client.
#include "korvent/Client.h"

#include "ClientImpl.h"

namespace korvent
{
  namespace
  {
    [[noreturn]] void refused(const KorventRegion::Refused& refusal, const std::string& where)
    {
      using Refusal = RegionRefused::Refusal;
      static const Refusal ours[] = {Refusal::OutsideMap, Refusal::EmptySize, Refusal::CellCountMismatch,
                                     Refusal::MapNotRectangular, Refusal::StaleVersion, Refusal::NotSaved};
      throw RegionRefused(ours[refusal.reason], refusal.currentVersion, refusal.message.in(), where);
    }
  }

  KorventRegion_ptr Client::Impl::regionService() const
  {
    if (CORBA::is_nil(region))
      throw NoSuchService("the component offers no KorventRegion service", where);
    return region.in();
  }

  MapShape Client::shape()
  {
    const Impl& impl = *impl_;
    try {
      const KorventRegion::MapShape got = impl.regionService()->shape();
      return MapShape{got.version, got.width, got.height};
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "shape", impl.where);
    }
  }

  Region Client::getRegion(int x, int y, int width, int height)
  {
    const Impl& impl = *impl_;
    KorventRegion_ptr service = impl.regionService();
    const std::uint64_t expectedBytes = width > 0 && height > 0 ? std::uint64_t(width) * std::uint64_t(height) : 0;
    const CORBA::ULong allowed = transferTimeoutMs(impl.options, expectedBytes);
    omniORB::setClientCallTimeout(service, allowed);
    Region region{0, x, y, width, height, {}};
    try {
      CORBA::ULongLong version = 0;
      KorventRegion::CellSeq_var cells = service->getRegion(x, y, width, height, version);
      region.version = version;
      region.cells.assign(cells->get_buffer(), cells->get_buffer() + cells->length());
    }
    catch (const KorventRegion::Refused& refusal) {
      refused(refusal, impl.where);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "getRegion", impl.where, std::chrono::milliseconds(allowed));
    }
    return region;
  }

  std::uint64_t Client::setRegion(int x, int y, int width, int height, const std::uint8_t* data, std::size_t size,
                                  std::optional<std::uint64_t> expected)
  {
    const Impl& impl = *impl_;
    KorventRegion_ptr service = impl.regionService();
    // Borrowed, not owned: sent straight from the caller's octets.
    const KorventRegion::CellSeq cells(static_cast<CORBA::ULong>(size), static_cast<CORBA::ULong>(size),
                                       const_cast<CORBA::Octet*>(data), false);
    const CORBA::ULong allowed = transferTimeoutMs(impl.options, size);
    omniORB::setClientCallTimeout(service, allowed);
    try {
      return expected ? service->setRegionAt(*expected, x, y, width, height, cells)
                      : service->setRegion(x, y, width, height, cells);
    }
    catch (const KorventRegion::Refused& refusal) {
      refused(refusal, impl.where);
    }
    catch (const CORBA::SystemException& error) {
      impl.fail(error, Peer::MapService, "setRegion", impl.where, std::chrono::milliseconds(allowed));
    }
  }
}
