#ifndef GRIDMAPWRITE_H
#define GRIDMAPWRITE_H

#include <omniORB4/CORBA.h>
#include <omniORB4/callDescriptor.h>

#include <memory>
#include <string>

class KorventSVC_impl;

// setGridMap from a remote caller: the map's octets are received straight
// into a buffer of the store's (the spare, when one fits), which the store
// then keeps as the new map, so nothing is copied after the socket.
class GridMapWrite : public omniCallDescriptor
{
public:
  explicit GridMapWrite(KorventSVC_impl& servant);

  void unmarshalArguments(cdrStream& stream) override;
  void marshalReturnedValues(cdrStream& stream) override;

private:
  static void store(omniCallDescriptor* self, omniServant* servant);

  KorventSVC_impl& servant_;
  CORBA::Short width_ = 0;
  CORBA::Short height_ = 0;
  std::unique_ptr<std::string> octets_;
};

#endif // GRIDMAPWRITE_H
