#include "ros2/RosMapCdr.h"

#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace ros2
{
  const char* const occupancyGridTypeName = "nav_msgs::msg::dds_::OccupancyGrid_";
  const char* const occupancyGridUpdateTypeName = "map_msgs::msg::dds_::OccupancyGridUpdate_";

  namespace
  {
    // Values are copied as the machine holds them.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "CDR here is written little endian");

    // Plain CDR, little endian, no options.
    constexpr char encapsulation[4] = {0x00, 0x01, 0x00, 0x00};

    class Writer
    {
    public:
      explicit Writer(std::size_t expected)
      {
        out_.reserve(expected);
        out_.append(encapsulation, sizeof encapsulation);
      }

      template <typename T> void put(T value)
      {
        static_assert(std::is_arithmetic_v<T>);
        align(sizeof(T));
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));
        out_.append(raw, sizeof(T));
      }

      void putString(const std::string& text)
      {
        put(static_cast<std::uint32_t>(text.size() + 1));
        out_.append(text);
        out_.push_back('\0');
      }

      void putOctets(const std::string& octets)
      {
        put(static_cast<std::uint32_t>(octets.size()));
        out_.append(octets);
      }

      void putTime(const RosTime& time)
      {
        put(time.sec);
        put(time.nanosec);
      }

      std::string take() { return std::move(out_); }

    private:
      void align(std::size_t size)
      {
        while ((out_.size() - sizeof encapsulation) % size != 0)
          out_.push_back('\0');
      }

      std::string out_;
    };

    class Reader
    {
    public:
      explicit Reader(std::string_view bytes)
        : in_(bytes)
      {
        if (in_.size() < sizeof encapsulation)
          throw std::invalid_argument("shorter than its encapsulation header");
        // Octet 1 is 1 for little-endian plain CDR; octets 2 and 3 are
        // options (a writer's padding count), which readers ignore.
        if (in_[0] != 0 || in_[1] != 1)
          throw std::invalid_argument("not little-endian plain CDR (encapsulation " +
                                      std::to_string(static_cast<unsigned char>(in_[0])) + "," +
                                      std::to_string(static_cast<unsigned char>(in_[1])) + ")");
        at_ = sizeof encapsulation;
      }

      template <typename T> T get()
      {
        align(sizeof(T));
        need(sizeof(T));
        T value;
        std::memcpy(&value, in_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
      }

      std::string getString()
      {
        const std::uint32_t length = get<std::uint32_t>();
        if (length == 0)
          throw std::invalid_argument("a string without its terminating NUL");
        need(length);
        if (in_[at_ + length - 1] != '\0')
          throw std::invalid_argument("a string without its terminating NUL");
        std::string text(in_.substr(at_, length - 1));
        at_ += length;
        return text;
      }

      std::string getOctets()
      {
        const std::uint32_t length = get<std::uint32_t>();
        need(length);
        std::string octets(in_.substr(at_, length));
        at_ += length;
        return octets;
      }

      RosTime getTime()
      {
        RosTime time;
        time.sec = get<std::int32_t>();
        time.nanosec = get<std::uint32_t>();
        return time;
      }

    private:
      void align(std::size_t size)
      {
        at_ += (size - (at_ - sizeof encapsulation) % size) % size;
      }

      void need(std::size_t count) const
      {
        if (at_ > in_.size() || in_.size() - at_ < count)
          throw std::invalid_argument("truncated at octet " + std::to_string(at_) + " of " +
                                      std::to_string(in_.size()));
      }

      std::string_view in_;
      std::size_t at_ = 0;
    };

    constexpr std::size_t headerRoom = 64;
  }

  std::string encode(const OccupancyGridMessage& message)
  {
    Writer out(headerRoom + message.frame.size() + 96 + message.cells.size());
    out.putTime(message.stamp);
    out.putString(message.frame);
    out.putTime(message.loadTime);
    out.put(message.resolution);
    out.put(message.width);
    out.put(message.height);
    for (double value : message.position)
      out.put(value);
    for (double value : message.orientation)
      out.put(value);
    out.putOctets(message.cells);
    return out.take();
  }

  std::string encode(const OccupancyGridUpdateMessage& message)
  {
    Writer out(headerRoom + message.frame.size() + message.cells.size());
    out.putTime(message.stamp);
    out.putString(message.frame);
    out.put(message.x);
    out.put(message.y);
    out.put(message.width);
    out.put(message.height);
    out.putOctets(message.cells);
    return out.take();
  }

  OccupancyGridMessage decodeOccupancyGrid(std::string_view bytes)
  {
    Reader in(bytes);
    OccupancyGridMessage message;
    message.stamp = in.getTime();
    message.frame = in.getString();
    message.loadTime = in.getTime();
    message.resolution = in.get<float>();
    message.width = in.get<std::uint32_t>();
    message.height = in.get<std::uint32_t>();
    for (double& value : message.position)
      value = in.get<double>();
    for (double& value : message.orientation)
      value = in.get<double>();
    message.cells = in.getOctets();
    return message;
  }

  OccupancyGridUpdateMessage decodeOccupancyGridUpdate(std::string_view bytes)
  {
    Reader in(bytes);
    OccupancyGridUpdateMessage message;
    message.stamp = in.getTime();
    message.frame = in.getString();
    message.x = in.get<std::int32_t>();
    message.y = in.get<std::int32_t>();
    message.width = in.get<std::uint32_t>();
    message.height = in.get<std::uint32_t>();
    message.cells = in.getOctets();
    return message;
  }
}
