#ifndef RTM_CDRCODEC_H
#define RTM_CDRCODEC_H

// omniidl declares Any operators at global scope: a data type's header must
// come before this one for repositoryIdOf to find them.
#include <BasicDataType.hh>

#include <string>

namespace RTC
{
  enum class ByteOrder { Little, Big };

  // The bare CDR body of `value`: no byte-order octet, alignment counted
  // from the first octet, in the byte order the connection agreed on.
  template <class T>
  std::string encodeCdr(const T& value, ByteOrder order)
  {
    cdrMemoryStream stream;
    stream.setByteSwapFlag(order == ByteOrder::Little);
    value >>= stream;
    return std::string(static_cast<const char*>(stream.bufPtr()), stream.bufSize());
  }

  // Reads one value from `bytes`; false when they do not hold a whole one
  // (`out` may then be partly overwritten).
  template <class T>
  bool decodeCdr(const std::string& bytes, ByteOrder order, T& out)
  {
    // The stream only reads; it copies a buffer that is not aligned.
    cdrMemoryStream stream(const_cast<char*>(bytes.data()), bytes.size());
    stream.setByteSwapFlag(order == ByteOrder::Little);
    try {
      out <<= stream;
      return true;
    }
    catch (const CORBA::SystemException&) {
      return false;
    }
  }

  // The repository id of an IDL data type, as ports advertise it.
  template <class T>
  std::string repositoryIdOf()
  {
    CORBA::Any any;
    any <<= T();
    CORBA::TypeCode_var type = any.type();
    return type->id();
  }
}

#endif // RTM_CDRCODEC_H
