#ifndef KORVENTSVC_IMPL_H
#define KORVENTSVC_IMPL_H

#include <Korvent.hh>

#include <memory>
#include <string>

// Servant of the grid-map service.  The map itself is process-wide: every
// servant object serves the same store, which outlives them all.
class KorventSVC_impl
  : public virtual POA_Korvent,
    public virtual PortableServer::RefCountServantBase
{
public:
  KorventSVC_impl();
  virtual ~KorventSVC_impl();

  CORBA::Boolean setGridMap(CORBA::Short width, CORBA::Short height,
                            const RTC::TimedOctetSeq& map) override;
  CORBA::Boolean getGridMap(CORBA::Short& width, CORBA::Short& height,
                            RTC::TimedOctetSeq& map) override;

  // setGridMap for octets already in a buffer of the store's, which keeps it.
  virtual void storeGridMap(CORBA::Short width, CORBA::Short height, std::unique_ptr<std::string> octets);

  // The ORB's dispatch of a remote call, wrapped so that a reply can be
  // sent from the stored map itself.
  CORBA::Boolean _dispatch(omniCallHandle& handle) override;
};

#endif // KORVENTSVC_IMPL_H
