#ifndef KORVENTMAPINFOSVC_IMPL_H
#define KORVENTMAPINFOSVC_IMPL_H

#include <KorventMapInfo.hh>

// Servant of the map description service: reads and writes where the
// process's one map (processGridMap()) lies and how its cells read.
class KorventMapInfoSVC_impl
  : public virtual POA_KorventMapInfo,
    public virtual PortableServer::RefCountServantBase
{
public:
  KorventMapInfoSVC_impl();
  ~KorventMapInfoSVC_impl() override;

  KorventMapInfo::MapInfo* info() override;
  KorventMapInfo::MapSummary* summary() override;
  CORBA::ULongLong setDescription(const KorventMapInfo::MapDescription& description) override;
  CORBA::ULongLong setDescriptionAt(CORBA::ULongLong expected,
                                    const KorventMapInfo::MapDescription& description) override;
  CORBA::ULongLong setDescribedMap(CORBA::Short width, CORBA::Short height, const KorventMapInfo::CellSeq& cells,
                                   const KorventMapInfo::MapDescription& description) override;
};

#endif // KORVENTMAPINFOSVC_IMPL_H
