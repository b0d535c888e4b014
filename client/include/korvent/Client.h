#ifndef KORVENT_CLIENT_H
#define KORVENT_CLIENT_H

#include <BasicDataType.hh>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvent
{
  struct ClientOptions
  {
    // Longest any one call to another process may take (name service,
    // component, port, map service).
    std::chrono::milliseconds callTimeout{std::chrono::seconds(5)};
    // Largest GIOP message, in bytes, this process sends or accepts.  Used
    // only when the library initialises the process's ORB; an ORB the
    // program initialised before keeps its own -ORBgiopMaxMsgSize.
    std::uint32_t maxMessageSize = 1152u << 20;  // the largest map, 32767 x 32767, and room to spare
    // Extra time a map transfer may take on top of callTimeout: the time
    // the map's bytes need at this rate, in bytes per second (0: none).  A
    // fetch allows for a map as large as the message size limit, since its
    // size is unknown until it arrives; a stalled component then takes that
    // much longer to be noticed.
    std::uint64_t slowestTransferRate = 0;
    // More ORB_init options (e.g. "-ORBtraceLevel", "10"), used only when
    // the library initialises the process's ORB.
    std::vector<std::string> orbOptions;
    // Called with the ORB right after the library's first ORB_init in this
    // process, before any call: the place for ORB-wide policies such as
    // compression.
    std::function<void(CORBA::ORB_ptr)> orbReady;
    // How messages name this program and the settings the user changes to
    // raise its message size limit or its timeout.
    std::string programName = "this program";
    std::string maxMessageSetting = "ClientOptions::maxMessageSize";
    std::string timeoutSetting = "ClientOptions::callTimeout";
  };

  // Every failure the client reports derives from Error.  what() reads
  // "<reason> (<where>)", one line; where() is the host, name or reference
  // the failure concerns.
  class Error : public std::runtime_error
  {
  public:
    Error(const std::string& reason, const std::string& where)
      : std::runtime_error(reason + " (" + where + ")"), reason_(reason), where_(where)
    {
    }
    const std::string& reason() const { return reason_; }
    const std::string& where() const { return where_; }

  private:
    std::string reason_;
    std::string where_;
  };
  class NameServiceUnreachable : public Error { public: using Error::Error; };
  // Nothing is bound under the name, or the object found does not answer
  // as a component.
  class ComponentNotFound : public Error { public: using Error::Error; };
  // The component offers no port that provides the Korvent interface.
  class NoSuchService : public Error { public: using Error::Error; };
  // The map exceeds the message size limit of this process or of the component.
  class MapTooLarge : public Error { public: using Error::Error; };
  class CallTimedOut : public Error { public: using Error::Error; };
  // Any other failure of the ORB or the peer.
  class CommunicationError : public Error { public: using Error::Error; };

  // The component refused a call; the map is as it was, but for NotSaved on
  // a write the map took before the disk failed it (the message says so).
  // `Reason` tells why.
  template <class Reason>
  class RefusedCall : public Error
  {
  public:
    using Refusal = Reason;
    RefusedCall(Refusal refusal, std::uint64_t currentVersion, const std::string& reason, const std::string& where)
      : Error(reason, where), refusal_(refusal), currentVersion_(currentVersion)
    {
    }
    Refusal refusal() const { return refusal_; }
    // The map's version when the call was refused.
    std::uint64_t currentVersion() const { return currentVersion_; }

  private:
    Refusal refusal_;
    std::uint64_t currentVersion_;
  };

  // NotSaved: the component cannot save writes now (disk full, I/O error,
  // too slow) and takes them again once a save succeeds.
  enum class RegionRefusal { OutsideMap, EmptySize, CellCountMismatch, MapNotRectangular, StaleVersion, NotSaved };
  // A refused region call.
  class RegionRefused : public RefusedCall<RegionRefusal> { public: using RefusedCall::RefusedCall; };
  enum class DescriptionRefusal { InvalidValue, StaleVersion, NotSaved };
  // A refused description write.
  class DescriptionRefused : public RefusedCall<DescriptionRefusal> { public: using RefusedCall::RefusedCall; };

  // Where the map lies and how its cells read as occupancy, as a map YAML
  // says (resolution, origin, mode, negate, thresholds), with the frame the
  // origin is in and a short note.
  struct MapDescription
  {
    enum class Mode { Trinary, Scale, Raw };
    double resolution = 0.05;                     // metres per cell
    double originX = 0, originY = 0, originYaw = 0;  // of the lower-left cell: metres, radians
    std::string frame = "map";                    // at most 64 bytes
    Mode mode = Mode::Trinary;
    bool negate = false;
    double occupiedThreshold = 0.65;
    double freeThreshold = 0.196;
    std::string text;                             // at most 1024 bytes
  };

  // The stored map's version, time of storing, size and description.
  struct MapInfo
  {
    std::uint64_t version = 0;
    std::chrono::system_clock::time_point storedAt;  // the epoch for version 0
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::optional<MapDescription> description;  // none until one is given
    bool confirmed = true;  // false: the cells changed size since the description was written
  };

  // What the stored map's cells hold, counted by the component, so that no
  // cell has to move to describe them.
  struct MapSummary
  {
    MapInfo info;
    std::uint64_t bytes = 0;   // width x height unless the map was stored otherwise
    std::uint32_t crc32 = 0;   // zlib's, of the cells
    std::array<std::uint64_t, 256> valueCounts{};  // how many cells hold each octet value
  };

  // The stored map's version and size, without its cells.
  struct MapShape
  {
    std::uint64_t version = 0;  // 0 before the first stored map, then higher for each change, across restarts too
    std::int16_t width = 0;
    std::int16_t height = 0;
  };

  // The cells of a rectangle, row-major, and the version they belong to.
  struct Region
  {
    std::uint64_t version = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::uint8_t> cells;
  };

  // What the component's "mapChanged" port announced of a stored map.
  struct MapChange
  {
    // The version info(), shape() and the writes give: one more per change
    // within a run, skipping when changes come quickly; above every version
    // of the component's earlier runs.
    std::uint64_t version = 0;
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::uint32_t bytes = 0;
    std::uint32_t crc32 = 0;    // zlib's, of the cells
    int x = 0, y = 0, changedWidth = 0, changedHeight = 0;  // the rectangle that changed
    std::chrono::system_clock::time_point storedAt;
    std::uint32_t flags = 0;  // descriptionOnly, described, unconfirmed; 0 from an older component
    static constexpr std::uint32_t descriptionOnly = 1, described = 2, unconfirmed = 4;
    // Every version of the component's current run is above it: a version
    // at or below it was handed out before the component restarted.  0 from
    // an older component, whose events carry only a version's low 32 bits.
    std::uint64_t runFloor = 0;
  };

  // A map as the ORB received it.
  class GridMap
  {
  public:
    using Buffer = std::unique_ptr<std::uint8_t[], void (*)(std::uint8_t*)>;

    GridMap() = default;
    // Moves hand the octets over; copies would duplicate a map of any size.
    GridMap(GridMap&& other) noexcept;
    GridMap& operator=(GridMap&& other) noexcept;
    GridMap(const GridMap&) = delete;
    GridMap& operator=(const GridMap&) = delete;

    std::int16_t width() const { return width_; }
    std::int16_t height() const { return height_; }
    const std::uint8_t* data() const { return sequence_.data.get_buffer(); }
    std::size_t size() const { return sequence_.data.length(); }

    // The ORB's own sequence, timestamp included.
    RTC::TimedOctetSeq& sequence() { return sequence_; }
    // Hands over the octets without copying them; the map is empty afterwards.
    Buffer takeBuffer();

  private:
    friend class Client;
    std::int16_t width_ = 0;
    std::int16_t height_ = 0;
    RTC::TimedOctetSeq sequence_;
  };

  // The grid-map service of one KorventComp.  The service is found once, on
  // construction, the way a consumer component finds it: a connection on the
  // component's service port publishes the provider, and that connection is
  // removed again at once.
  //
  // A Client is for one thread at a time: its calls share, without a lock,
  // the references it found (found again after a restart), the time limits
  // a transfer sets on them and the change connection it keeps.  Give each
  // thread a Client of its own (they share the process's one ORB), or
  // serialise the calls to one with a lock of your own.
  class Client
  {
  public:
    // The component bound under `name` ("id.kind/id.kind") on the name
    // server at `hostPort` ("host:port").
    static Client atNameServer(const std::string& hostPort,
                               const std::string& name = defaultComponentName(),
                               const ClientOptions& options = {});
    // The component behind an "IOR:", "corbaloc:" or "corbaname:" reference.
    static Client atReference(const std::string& reference, const ClientOptions& options = {});

    // "<this host's name>.host_cxt/Korvent0.rtc", the name KorventComp binds by default.
    static std::string defaultComponentName();

    Client(Client&&) noexcept;
    Client& operator=(Client&&) noexcept;
    ~Client();

    // Stores `size` octets at `data` as the map; they are marshalled
    // straight from the caller's memory.
    void setMap(std::int16_t width, std::int16_t height, const std::uint8_t* data, std::size_t size);
    GridMap getMap();

    // The map's version and size; no cells move.  Region calls need a
    // component with the region service (NoSuchService otherwise).
    MapShape shape();
    std::uint64_t version() { return shape().version; }
    Region getRegion(int x, int y, int width, int height);
    // Replaces width x height cells at x,y with the `size` octets at `data`,
    // row-major; with `expected`, only while the map is at that version.
    // Returns the new version.
    std::uint64_t setRegion(int x, int y, int width, int height, const std::uint8_t* data, std::size_t size,
                            std::optional<std::uint64_t> expected = std::nullopt);

    // The map's description service (NoSuchService without one).  A
    // description write makes a new version; with `expected`, only while
    // the map is at that version.  setDescribedMap stores cells and
    // description as one version.  Both throw DescriptionRefused.
    MapInfo info();
    MapSummary summary();
    std::uint64_t setDescription(const MapDescription& description,
                                 std::optional<std::uint64_t> expected = std::nullopt);
    std::uint64_t setDescribedMap(std::int16_t width, std::int16_t height, const std::uint8_t* data,
                                  std::size_t size, const MapDescription& description);

    // The component's own reference ("IOR:..."), for reaching its other
    // ports, such as "mapChanged".
    std::string componentReference() const;

    // The newest announced change whose version is not `lastVersion` (pass
    // 0 for any map), waiting up to `timeout` for one; nothing at the
    // timeout.  The first call connects an InPort of this client's own to
    // the component's "mapChanged" port, which sends the current map's
    // announcement at once.  The component drops a connection it cannot
    // push to (this process stopped, or slower than its call timeout), and a
    // restarted one knows none: while waiting, the connection is checked
    // after each second without an event and after any failed call, and a
    // lost one is made again (retried after 0.1 s, doubling up to 5 s; a
    // component found by name is looked up again).  The new connection
    // brings the current announcement, so changes stored meanwhile show as
    // a version further on than `lastVersion`; only the newest is seen.  A
    // component that does not answer adds at most one call timeout: the
    // wait makes no further call to it and returns nothing.
    std::optional<MapChange> waitForChange(std::uint64_t lastVersion, std::chrono::milliseconds timeout);
    // How many times waitForChange found its connection lost and made it again.
    std::uint64_t changeReconnections() const;
    // While the component cannot push changes to this process (it dropped
    // the last connection before any change came on it, as when it cannot
    // connect back to the address this process publishes), that address,
    // "host:port"; waitForChange then connects again less and less often,
    // up to every 5 s.  Empty once a change comes.
    std::string changesUnreachable() const;

  private:
    struct Impl;
    explicit Client(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
  };
}

#endif // KORVENT_CLIENT_H
