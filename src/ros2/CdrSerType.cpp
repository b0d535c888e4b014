#include "ros2/CdrSerType.h"

#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>
#include <dds/ddsi/q_radmin.h>
#include <dds/ddsrt/heap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace
{
  struct CdrSample : ddsi_serdata
  {
    std::string bytes;
  };

  // What dds_write, dds_take and loans see as a sample of this type: the
  // serialized bytes (owned by the sample when Cyclone filled it in).
  struct PlainSample
  {
    unsigned char* bytes;
    std::uint32_t size;
  };

  const ddsi_serdata_ops& sampleOps();

  CdrSample* newSample(const ddsi_sertype* type, ddsi_serdata_kind kind)
  {
    auto sample = new (std::nothrow) CdrSample();
    if (sample == nullptr)
      return nullptr;
    ddsi_serdata_init(sample, type, kind);
    // Key-less: every sample is the one instance.
    sample->hash = type->serdata_basehash;
    return sample;
  }

  const CdrSample& cdr(const ddsi_serdata* data) { return *static_cast<const CdrSample*>(data); }

  // serdata operations

  bool equalKeys(const ddsi_serdata*, const ddsi_serdata*) { return true; }

  std::uint32_t sizeOf(const ddsi_serdata* data) { return static_cast<std::uint32_t>(cdr(data).bytes.size()); }

  ddsi_serdata* fromFragments(const ddsi_sertype* type, ddsi_serdata_kind kind, const nn_rdata* fragment,
                              std::size_t size)
  {
    CdrSample* sample = newSample(type, kind);
    if (sample == nullptr)
      return nullptr;
    try {
      sample->bytes.resize(size);
    }
    catch (const std::bad_alloc&) {
      delete sample;
      return nullptr;
    }
    // Fragments come in order and may overlap; each adds what lies past
    // the end of those before it.
    std::size_t filled = 0;
    for (; fragment != nullptr && filled < size; fragment = fragment->nextfrag) {
      if (fragment->maxp1 <= filled)
        continue;
      const unsigned char* payload = NN_RMSG_PAYLOADOFF(fragment->rmsg, NN_RDATA_PAYLOAD_OFF(fragment));
      const std::size_t end = std::min<std::size_t>(fragment->maxp1, size);
      std::memcpy(sample->bytes.data() + filled, payload + (filled - fragment->min), end - filled);
      filled = end;
    }
    return sample;
  }

  ddsi_serdata* fromVectors(const ddsi_sertype* type, ddsi_serdata_kind kind, ddsrt_msg_iovlen_t count,
                            const ddsrt_iovec_t* vectors, std::size_t size)
  {
    CdrSample* sample = newSample(type, kind);
    if (sample == nullptr)
      return nullptr;
    try {
      sample->bytes.reserve(size);
      for (ddsrt_msg_iovlen_t i = 0; i < count; ++i)
        sample->bytes.append(static_cast<const char*>(vectors[i].iov_base), vectors[i].iov_len);
    }
    catch (const std::bad_alloc&) {
      delete sample;
      return nullptr;
    }
    return sample;
  }

  ddsi_serdata* fromKeyhash(const ddsi_sertype* type, const ddsi_keyhash*) { return newSample(type, SDK_KEY); }

  ddsi_serdata* fromPlainSample(const ddsi_sertype* type, ddsi_serdata_kind kind, const void* raw)
  {
    const auto& plain = *static_cast<const PlainSample*>(raw);
    const ddsrt_iovec_t whole{plain.bytes, plain.size};
    return kind == SDK_DATA ? fromVectors(type, kind, 1, &whole, plain.size) : newSample(type, kind);
  }

  void toSerialized(const ddsi_serdata* data, std::size_t offset, std::size_t size, void* out)
  {
    std::memcpy(out, cdr(data).bytes.data() + offset, size);
  }

  ddsi_serdata* toSerializedRef(const ddsi_serdata* data, std::size_t offset, std::size_t size, ddsrt_iovec_t* ref)
  {
    ref->iov_base = const_cast<char*>(cdr(data).bytes.data() + offset);
    ref->iov_len = static_cast<ddsrt_iov_len_t>(size);
    return ddsi_serdata_ref(data);
  }

  void toSerializedUnref(ddsi_serdata* data, const ddsrt_iovec_t*) { ddsi_serdata_unref(data); }

  bool toPlainSample(const ddsi_serdata* data, void* raw, void**, void*)
  {
    auto& plain = *static_cast<PlainSample*>(raw);
    const std::string& bytes = cdr(data).bytes;
    void* copy = ddsrt_malloc_s(bytes.size() + 1);
    if (copy == nullptr)
      return false;
    std::memcpy(copy, bytes.data(), bytes.size());
    ddsrt_free(plain.bytes);
    plain.bytes = static_cast<unsigned char*>(copy);
    plain.size = static_cast<std::uint32_t>(bytes.size());
    return true;
  }

  ddsi_serdata* toUntyped(const ddsi_serdata* data) { return newSample(data->type, SDK_KEY); }

  bool untypedToSample(const ddsi_sertype*, const ddsi_serdata*, void*, void**, void*) { return true; }

  void freeSample(ddsi_serdata* data) { delete static_cast<CdrSample*>(data); }

  std::size_t print(const ddsi_sertype*, const ddsi_serdata* data, char* out, std::size_t size)
  {
    return static_cast<std::size_t>(std::snprintf(out, size, "(%zu octets of CDR)", cdr(data).bytes.size()));
  }

  void keyhash(const ddsi_serdata*, ddsi_keyhash* out, bool) { std::memset(out, 0, sizeof *out); }

  const ddsi_serdata_ops& sampleOps()
  {
    static const ddsi_serdata_ops ops = [] {
      ddsi_serdata_ops o{};
      o.eqkey = equalKeys;
      o.get_size = sizeOf;
      o.from_ser = fromFragments;
      o.from_ser_iov = fromVectors;
      o.from_keyhash = fromKeyhash;
      o.from_sample = fromPlainSample;
      o.to_ser = toSerialized;
      o.to_ser_ref = toSerializedRef;
      o.to_ser_unref = toSerializedUnref;
      o.to_sample = toPlainSample;
      o.to_untyped = toUntyped;
      o.untyped_to_sample = untypedToSample;
      o.free = freeSample;
      o.print = print;
      o.get_keyhash = keyhash;
      return o;
    }();
    return ops;
  }

  // sertype operations

  void freeType(ddsi_sertype* type)
  {
    ddsi_sertype_fini(type);
    delete type;
  }

  void zeroSamples(const ddsi_sertype*, void* samples, std::size_t count)
  {
    std::memset(samples, 0, count * sizeof(PlainSample));
  }

  void reallocSamples(void** out, const ddsi_sertype*, void* old, std::size_t oldCount, std::size_t count)
  {
    auto samples = static_cast<PlainSample*>(ddsrt_realloc(old, count * sizeof(PlainSample)));
    if (samples != nullptr && count > oldCount)
      std::memset(samples + oldCount, 0, (count - oldCount) * sizeof(PlainSample));
    *out = samples;
  }

  void freeSamples(const ddsi_sertype*, void** pointers, std::size_t count, dds_free_op_t op)
  {
    if (op & DDS_FREE_CONTENTS_BIT)
      for (std::size_t i = 0; i < count; ++i) {
        auto sample = static_cast<PlainSample*>(pointers[i]);
        ddsrt_free(sample->bytes);
        sample->bytes = nullptr;
      }
    if (op & DDS_FREE_ALL_BIT)
      ddsrt_free(pointers[0]);
  }

  bool equalTypes(const ddsi_sertype*, const ddsi_sertype*) { return true; }

  std::uint32_t hashType(const ddsi_sertype*) { return 0; }

  std::size_t serializedSize(const ddsi_sertype*, const void* raw) { return static_cast<const PlainSample*>(raw)->size; }

  bool serializeInto(const ddsi_sertype*, const void* raw, void* out, std::size_t size)
  {
    const auto& plain = *static_cast<const PlainSample*>(raw);
    if (size < plain.size)
      return false;
    std::memcpy(out, plain.bytes, plain.size);
    return true;
  }

  const ddsi_sertype_ops& typeOps()
  {
    static const ddsi_sertype_ops ops = [] {
      ddsi_sertype_ops o{};
      o.version = ddsi_sertype_v0;
      o.free = freeType;
      o.zero_samples = zeroSamples;
      o.realloc_samples = reallocSamples;
      o.free_samples = freeSamples;
      o.equal = equalTypes;
      o.hash = hashType;
      o.get_serialized_size = serializedSize;
      o.serialize_into = serializeInto;
      return o;
    }();
    return ops;
  }
}

namespace CdrSerType
{
  ddsi_sertype* create(const char* typeName)
  {
    auto type = std::make_unique<ddsi_sertype>();
    ddsi_sertype_init_flags(type.get(), typeName, &typeOps(), &sampleOps(), DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
    // ROS 2 peers match plain CDR only.
    type->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
    return type.release();
  }

  ddsi_serdata* sampleOf(const ddsi_sertype* type, std::string bytes)
  {
    CdrSample* sample = newSample(type, SDK_DATA);
    if (sample == nullptr)
      throw std::bad_alloc();
    sample->bytes = std::move(bytes);
    return sample;
  }

  std::string_view bytesOf(const ddsi_serdata* sample) { return cdr(sample).bytes; }
}
