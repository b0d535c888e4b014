// A caller in the servant's own process reads getGridMap's reply after the
// call returned, when nothing keeps the stored map alive for it any more:
// its reply must own its octets.
#include "GridMapClient.h"
#include "store/GridMapStore.h"
#include "service/KorventSVC_impl.h"

#include <gtest/gtest.h>

TEST(InProcessReply, OwnsItsOctetsAndOutlivesTheStoredMap)
{
  PortableServer::Servant_var<KorventSVC_impl> servant(new KorventSVC_impl);
  PortableServer::ObjectId_var id = clientPoa()->activate_object(servant);
  CORBA::Object_var object = clientPoa()->id_to_reference(id);
  Korvent_var service = Korvent::_narrow(object);

  const std::vector<CORBA::Octet> first(100000, 1);
  ASSERT_FALSE(service->setGridMap(1000, 100, makeMap(first)));
  RTC::TimedOctetSeq reply = makeMap({}, 17, 4);
  CORBA::Short width = 0, height = 0;
  ASSERT_FALSE(service->getGridMap(width, height, reply));

  // Two replacements: the first map's buffer is reused for the second.
  processGridMap().replace(std::vector<char>(100000, 2).data(), 100000, 1, 1);
  processGridMap().replace(std::vector<char>(100000, 3).data(), 100000, 1, 1);
  EXPECT_TRUE(reply.data.release());
  EXPECT_EQ(first, octetsOf(reply));
  EXPECT_EQ(1000, width);
  EXPECT_EQ(17u, reply.tm.sec);
  EXPECT_EQ(4u, reply.tm.nsec);
  clientPoa()->deactivate_object(id);
}
