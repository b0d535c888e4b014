// A ROS 2 map subscriber on Fast DDS, another vendor's DDS than the one
// KorventComp uses, with types fastddsgen generated from ROS 2's own IDL.
// It joins domain argv[1] on the loopback only, or with argv[2] on the
// interface of that address alone, discovering peers by multicast there,
// and prints a line for each message:
//   matched map|updates
//   map <sec> <nanosec> <frame> <resolution> <width> <height> <px> <py> <pz> <qx> <qy> <qz> <qw> <cells> <received>
//   update <sec> <nanosec> <frame> <x> <y> <width> <height> <cells> <received>
// where <cells> is the data in hex for up to 4096 cells, else "crc32:" and
// zlib's CRC-32 of them, and <received> the receive time in nanoseconds
// since 1970.
#include "RosMaps.h"
#include "RosMapsPubSubTypes.h"

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <pthread.h>

using namespace eprosima::fastdds::dds;
namespace mapmsgs = nav_msgs::msg::dds_;
namespace updatemsgs = map_msgs::msg::dds_;

namespace
{
  std::mutex printing;

  void print(const std::string& line)
  {
    std::lock_guard<std::mutex> lock(printing);
    std::cout << line << std::endl;
  }

  std::string cellsText(const std::vector<uint8_t>& cells)
  {
    std::ostringstream out;
    if (cells.size() > 4096) {
      out << "crc32:" << crc32(0, cells.data(), static_cast<uInt>(cells.size()));
      return out.str();
    }
    out << std::hex << std::setfill('0');
    for (uint8_t cell : cells)
      out << std::setw(2) << static_cast<unsigned>(cell);
    return cells.empty() ? "-" : out.str();
  }

  long long now()
  {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
  }

  class Listener : public DataReaderListener
  {
  public:
    explicit Listener(bool maps) : maps_(maps) {}

    void on_subscription_matched(DataReader*, const SubscriptionMatchedStatus& status) override
    {
      if (status.current_count_change > 0)
        print(std::string("matched ") + (maps_ ? "map" : "updates"));
    }

    void on_data_available(DataReader* reader) override
    {
      SampleInfo info;
      if (maps_) {
        mapmsgs::OccupancyGrid_ map;
        while (reader->take_next_sample(&map, &info) == ReturnCode_t::RETCODE_OK)
          if (info.valid_data)
            print(mapLine(map));
      }
      else {
        updatemsgs::OccupancyGridUpdate_ update;
        while (reader->take_next_sample(&update, &info) == ReturnCode_t::RETCODE_OK)
          if (info.valid_data)
            print(updateLine(update));
      }
    }

  private:
    static std::string mapLine(const mapmsgs::OccupancyGrid_& map)
    {
      const auto& info = map.info_();
      const auto& pose = info.origin_();
      std::ostringstream out;
      out << std::setprecision(17) << "map " << map.header_().stamp_().sec_() << ' '
          << map.header_().stamp_().nanosec_() << ' ' << map.header_().frame_id_() << ' ' << info.resolution_()
          << ' ' << info.width_() << ' ' << info.height_() << ' ' << pose.position_().x_() << ' '
          << pose.position_().y_() << ' ' << pose.position_().z_() << ' ' << pose.orientation_().x_() << ' '
          << pose.orientation_().y_() << ' ' << pose.orientation_().z_() << ' ' << pose.orientation_().w_() << ' '
          << cellsText(map.data_()) << ' ' << now();
      return out.str();
    }

    static std::string updateLine(const updatemsgs::OccupancyGridUpdate_& update)
    {
      std::ostringstream out;
      out << "update " << update.header_().stamp_().sec_() << ' ' << update.header_().stamp_().nanosec_() << ' '
          << update.header_().frame_id_() << ' ' << update.x_() << ' ' << update.y_() << ' ' << update.width_()
          << ' ' << update.height_() << ' ' << cellsText(update.data_()) << ' ' << now();
      return out.str();
    }

    bool maps_;
  };

  // UDP on the interface of `address` only.  On the loopback, unicast
  // only: discovery goes to this host's ports.
  DomainParticipantQos participantQos(const std::string& address)
  {
    DomainParticipantQos qos;
    qos.transport().use_builtin_transports = false;
    auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
    udp->interfaceWhiteList.push_back(address);
    udp->receiveBufferSize = 8 << 20;
    udp->maxInitialPeersRange = 32;
    qos.transport().user_transports.push_back(udp);
    if (address != "127.0.0.1")
      return qos;
    eprosima::fastrtps::rtps::Locator_t peer;
    eprosima::fastrtps::rtps::IPLocator::setIPv4(peer, 127, 0, 0, 1);
    qos.wire_protocol().builtin.initialPeersList.push_back(peer);
    eprosima::fastrtps::rtps::Locator_t discovery;
    eprosima::fastrtps::rtps::IPLocator::setIPv4(discovery, 127, 0, 0, 1);
    qos.wire_protocol().builtin.metatrafficUnicastLocatorList.push_back(discovery);
    eprosima::fastrtps::rtps::Locator_t data;
    eprosima::fastrtps::rtps::IPLocator::setIPv4(data, 127, 0, 0, 1);
    qos.wire_protocol().default_unicast_locator_list.push_back(data);
    return qos;
  }

  DataReaderQos readerQos(bool latched)
  {
    DataReaderQos qos = DATAREADER_QOS_DEFAULT;
    qos.reliability().kind = RELIABLE_RELIABILITY_QOS;
    qos.durability().kind = latched ? TRANSIENT_LOCAL_DURABILITY_QOS : VOLATILE_DURABILITY_QOS;
    qos.history().kind = KEEP_LAST_HISTORY_QOS;
    qos.history().depth = latched ? 1 : 16;
    // Maps far larger than the generated type's nominal size.
    qos.endpoint().history_memory_policy = eprosima::fastrtps::rtps::DYNAMIC_RESERVE_MEMORY_MODE;
    qos.data_sharing().off();
    return qos;
  }

}

int main(int argc, char** argv)
{
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: fastdds_map_listener DOMAIN [ADDRESS]" << std::endl;
    return 2;
  }
  // Blocked in every thread, taken by the wait at the end.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  DomainParticipant* participant =
    DomainParticipantFactory::get_instance()->create_participant(std::stoi(argv[1]), participantQos(argc == 3 ? argv[2] : "127.0.0.1"));
  if (participant == nullptr) {
    std::cerr << "fastdds_map_listener: no participant" << std::endl;
    return 1;
  }
  TypeSupport mapType(new mapmsgs::OccupancyGrid_PubSubType());
  TypeSupport updateType(new updatemsgs::OccupancyGridUpdate_PubSubType());
  mapType.register_type(participant);
  updateType.register_type(participant);
  Topic* mapTopic = participant->create_topic("rt/map", mapType.get_type_name(), TOPIC_QOS_DEFAULT);
  Topic* updateTopic = participant->create_topic("rt/map_updates", updateType.get_type_name(), TOPIC_QOS_DEFAULT);
  Subscriber* subscriber = participant->create_subscriber(SUBSCRIBER_QOS_DEFAULT);
  Listener mapListener(true);
  Listener updateListener(false);
  DataReader* maps = subscriber->create_datareader(mapTopic, readerQos(true), &mapListener);
  DataReader* updates = subscriber->create_datareader(updateTopic, readerQos(false), &updateListener);
  if (maps == nullptr || updates == nullptr) {
    std::cerr << "fastdds_map_listener: no reader" << std::endl;
    return 1;
  }
  int signal = 0;
  sigwait(&ending, &signal);
  participant->delete_contained_entities();
  DomainParticipantFactory::get_instance()->delete_participant(participant);
  return 0;
}
