#include "rtm/dataports/DataConnection.h"

#include "rtm/util/NVUtil.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace RTC
{
  namespace
  {
    std::string lowered(const std::string& text)
    {
      std::string out = trimmed(text);
      std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
      return out;
    }

    // The value under "dataport.<side>.<key>", else "dataport.<key>".
    std::optional<std::string> setting(const ConnectorProfile& profile, const std::string& side, const std::string& key)
    {
      if (auto own = findString(profile.properties, "dataport." + side + "." + key))
        return own;
      return findString(profile.properties, "dataport." + key);
    }

    // Peer-supplied text for a log line: short, quoted, unable to forge lines.
    std::string quoted(const std::string& text)
    {
      std::string out = "'";
      for (std::size_t i = 0; i < text.size() && i < 40; ++i)
        out += (text[i] >= 0x20 && text[i] < 0x7f) ? text[i] : '?';
      return out + "'";
    }

    std::string shortName(const std::string& type)
    {
      if (type.compare(0, 4, "IDL:") != 0)
        return type;
      const std::size_t end = type.rfind(':');
      std::string body = type.substr(4, end == std::string::npos || end < 4 ? std::string::npos : end - 4);
      const std::size_t slash = body.rfind('/');
      return slash == std::string::npos ? body : body.substr(slash + 1);
    }
  }

  bool sameDataType(const std::string& a, const std::string& b)
  {
    const bool aFull = a.compare(0, 4, "IDL:") == 0;
    const bool bFull = b.compare(0, 4, "IDL:") == 0;
    if (aFull && bFull)
      return a == b;
    return shortName(a) == shortName(b);
  }

  ReturnCode_t DataConnection::read(const ConnectorProfile& profile, const std::string& dataType,
                                    const std::string& side, DataConnection& out, std::string& why)
  {
    // Other keys may hold values of any kind; these are read as text.
    for (const char* key : {"dataflow_type", "interface_type", "subscription_type", "serializer.cdr.endian",
                            "publisher.push_rate", "buffer.length", "marshaling_type", "data_type"})
      for (const std::string& name : {"dataport." + side + "." + key, "dataport." + std::string(key)})
        if (!textOrAbsent(profile.properties, name)) {
          why = "'" + name + "' holds a value that is not text";
          return BAD_PARAMETER;
        }
    const std::string flow = lowered(setting(profile, side, "dataflow_type").value_or("push"));
    if (flow != "push") {
      why = "data flow " + quoted(flow) + " is not served (push only)";
      return BAD_PARAMETER;
    }
    const std::string transport = lowered(setting(profile, side, "interface_type").value_or("corba_cdr"));
    if (transport != "corba_cdr") {
      why = "interface type " + quoted(transport) + " is not served (corba_cdr only)";
      return BAD_PARAMETER;
    }
    const std::string subscription = lowered(setting(profile, side, "subscription_type").value_or("flush"));
    if (subscription == "flush" || subscription.empty())
      out.subscription = Subscription::Flush;
    else if (subscription == "new")
      out.subscription = Subscription::New;
    else if (subscription == "periodic")
      out.subscription = Subscription::Periodic;
    else {
      why = "subscription type " + quoted(subscription) + " is not served (flush, new or periodic)";
      return BAD_PARAMETER;
    }
    const std::vector<std::string> orders = splitList(setting(profile, side, "serializer.cdr.endian").value_or("little"));
    const std::string order = orders.empty() ? "little" : lowered(orders.front());
    if (order != "little" && order != "big") {
      why = "byte order " + quoted(order) + " is neither little nor big";
      return BAD_PARAMETER;
    }
    out.byteOrder = order == "big" ? ByteOrder::Big : ByteOrder::Little;

    if (auto rate = setting(profile, side, "publisher.push_rate")) {
      char* end = nullptr;
      const double hz = std::strtod(rate->c_str(), &end);
      if (end == rate->c_str() || *end != '\0' || !std::isfinite(hz) || hz < 0 || hz > 100000) {
        why = "push rate " + quoted(*rate) + " is not a number of Hz from 0 to 100000";
        return BAD_PARAMETER;
      }
      out.pushRate = hz == 0 ? 1000.0 : hz;  // 0 means the default, as elsewhere
    }
    if (auto length = setting(profile, side, "buffer.length")) {
      char* end = nullptr;
      const long count = std::strtol(length->c_str(), &end, 10);
      if (end == length->c_str() || *end != '\0' || count < 1 || count > 1024) {
        why = "buffer length " + quoted(*length) + " is not a count from 1 to 1024";
        return BAD_PARAMETER;
      }
      out.bufferLength = static_cast<std::size_t>(count);
    }

    const std::string marshaling = lowered(setting(profile, side, "marshaling_type").value_or("cdr"));
    if (marshaling != "cdr") {
      why = "marshaling type " + quoted(marshaling) + " is not served (cdr only)";
      return RTC_ERROR;
    }
    // The tool's key, and the one a framework port adds for its own side:
    // an InPort of another type shows it only there.
    for (const char* key : {"dataport.data_type", "dataport.inport.data_type", "dataport.outport.data_type"})
      if (auto type = findString(profile.properties, key); type && !sameDataType(*type, dataType)) {
        why = "data type " + quoted(*type) + " is not this port's " + dataType;
        return RTC_ERROR;
      }
    return RTC_OK;
  }
}
