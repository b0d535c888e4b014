#ifndef KORVENTREGIONSVC_IMPL_H
#define KORVENTREGIONSVC_IMPL_H

#include <KorventRegion.hh>

// Servant of the region service: reads and writes rectangles of the
// process's one map (processGridMap()), the map the Korvent servant serves.
class KorventRegionSVC_impl
  : public virtual POA_KorventRegion,
    public virtual PortableServer::RefCountServantBase
{
public:
  KorventRegionSVC_impl();
  ~KorventRegionSVC_impl() override;

  KorventRegion::MapShape shape() override;
  KorventRegion::CellSeq* getRegion(CORBA::Long x, CORBA::Long y, CORBA::Long width, CORBA::Long height,
                                  CORBA::ULongLong& version) override;
  CORBA::ULongLong setRegion(CORBA::Long x, CORBA::Long y, CORBA::Long width, CORBA::Long height,
                             const KorventRegion::CellSeq& cells) override;
  CORBA::ULongLong setRegionAt(CORBA::ULongLong expected, CORBA::Long x, CORBA::Long y, CORBA::Long width,
                               CORBA::Long height, const KorventRegion::CellSeq& cells) override;

  // The ORB's dispatch of a remote call, wrapped so that a region's reply
  // is sent from a copy the reply watch counts.
  CORBA::Boolean _dispatch(omniCallHandle& handle) override;
};

#endif // KORVENTREGIONSVC_IMPL_H
