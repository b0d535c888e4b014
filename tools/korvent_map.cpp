// korvent-map: stores a map file as the grid map of a running KorventComp,
// fetches the stored map into a file, or describes it.
#include "ChangeWatch.h"
#include "KorventConnection.h"

#include "mapio/MapDescriptionText.h"
#include "mapio/MapError.h"
#include "mapio/MapFile.h"
#include "mapio/MapSummary.h"

#include <rtm/manager/MemoryPolicy.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/utsname.h>

namespace
{
  using mapio::MapError;

  const char* const description =
    "Stores a map file as the grid map of a running KorventComp, fetches the\n"
    "stored map into a file, or describes it.\n"
    "\n"
    "Formats, by extension: .yaml/.yml (map YAML with its PGM or PNG image,\n"
    "the image path relative to the YAML), .pgm (8-bit, P5 or P2), .png (8-bit\n"
    "greyscale), anything else raw octets.  get writes a YAML's image beside it\n"
    "as <name>.pgm.  Files are written whole or not at all.\n"
    "\n"
    "Cell layout: one octet per cell, row-major.  By default the image's grey\n"
    "values are stored as they are, top image row first, so file -> store ->\n"
    "file gives the same cells for every format.  With --occupancy, cells hold\n"
    "occupancy values (0 free, 100 occupied, 255 unknown), bottom row first,\n"
    "converted with the YAML's mode, negate and thresholds (defaults for a bare\n"
    "image: trinary, 0.65, 0.196); get --occupancy converts back.\n"
    "\n"
    "A YAML's resolution, origin, mode, negate and thresholds are stored with its\n"
    "cells as one version, and get writes them back into a YAML.  Storing an image\n"
    "of the same size keeps the description; one of another size keeps it marked\n"
    "unconfirmed until a YAML is stored again.\n";

  volatile std::sig_atomic_t interrupted = 0;

  // Transfers at least this large report their time and rate.
  constexpr std::size_t progressThreshold = std::size_t(4) << 20;

  std::string defaultComponentName()
  {
    utsname names;
    uname(&names);
    return std::string(names.nodename) + ".host_cxt/Korvent0.rtc";
  }

  short shortFrom(const std::string& text, const char* what, const std::string& where)
  {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
      throw MapError(std::string(what) + " '" + text + "' is not a whole number", where);
    if (errno == ERANGE || value < SHRT_MIN || value > SHRT_MAX)
      throw MapError(std::string(what) + " " + text + " does not fit a signed 16-bit value (-32768 to 32767)", where);
    return static_cast<short>(value);
  }

  void sizeFrom(const std::string& text, short& width, short& height)
  {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
      throw MapError("size '" + text + "' is not WIDTHxHEIGHT", "--size");
    width = shortFrom(text.substr(0, x), "width", "--size");
    height = shortFrom(text.substr(x + 1), "height", "--size");
  }

  // A number > 0, with a message that says so (CLI11's own range check
  // words it as a range up to the largest double).
  const CLI::Validator positiveNumber(
    [](std::string& text) {
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !(value > 0.0) || !std::isfinite(value))
        return "'" + text + "' is not a positive number";
      return std::string();
    },
    "POSITIVE");

  // Takes the ORB's own options ("-ORBname value") out of the command line,
  // for the ORB rather than for the tool's parser.
  std::vector<std::string> takeOrbOptions(int& argc, char** argv)
  {
    std::vector<std::string> taken;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
      if (std::string(argv[i]).rfind("-ORB", 0) == 0) {
        taken.emplace_back(argv[i]);
        if (i + 1 < argc)
          taken.emplace_back(argv[++i]);
      }
      else {
        argv[kept++] = argv[i];
      }
    }
    argc = kept;
    return taken;
  }

  class TransferReport
  {
  public:
    TransferReport(bool quiet) : quiet_(quiet), start_(std::chrono::steady_clock::now()) {}

    void done(const char* verb, std::size_t bytes) const
    {
      if (quiet_ || bytes < progressThreshold)
        return;
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      std::fprintf(stderr, "korvent-map: %s %.1f MiB in %.2f s (%.1f MB/s)\n", verb,
                   bytes / 1048576.0, seconds, seconds > 0 ? bytes / seconds / 1e6 : 0.0);
    }

  private:
    bool quiet_;
    std::chrono::steady_clock::time_point start_;
  };
}

int main(int argc, char** argv)
{
  // Without it, every compressed call maps and unmaps blocks the size of the map.
  RTC::retainLargeBuffers();

  ConnectionOptions connection;
  connection.orbOptions = takeOrbOptions(argc, argv);

  CLI::App app(description, "korvent-map");
  app.footer("Large maps: both ends need a message size limit above the map, e.g. for 300 MB\n"
             "KorventComp -o \"corba.args:-ORBgiopMaxMsgSize 300000000\" and korvent-map\n"
             "--max-message 300000000; on a slow link also a larger corba.request_timeout on\n"
             "KorventComp and --timeout here.  -ORB<option> <value> goes to the ORB as it is.\n"
             "\n"
             "KorventComp's own keys: korvent.map.load (a map file loaded at start-up),\n"
             "korvent.map.load.occupancy (yes: load it as --occupancy would), korvent.map.store\n"
             "(a file that keeps the latest map across restarts).  See docs/maps-and-files.md.");
  app.require_subcommand(1);
  app.fallthrough();
  // A later option overrides an earlier one, so that scripts can append.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

  connection.componentName = defaultComponentName();
  bool quiet = false;
  bool noCompression = false;
  CLI::Option* nameServer =
    app.add_option("-n,--name-server", connection.nameServer, "name service as host:port")->capture_default_str();
  CLI::Option* component =
    app.add_option("-c,--component", connection.componentName, "component's name in the name service")
      ->capture_default_str();
  app.add_option("--ior", connection.reference,
                 "the component's reference (IOR:, corbaloc: or corbaname:) instead of -n and -c")
    ->excludes(nameServer)->excludes(component);
  app.add_flag("--no-compress", noCompression, "send and receive uncompressed");
  app.add_option("--compress-level", connection.compressionLevel,
                 "GIOP compression level, 1 fastest to 9 smallest (with a KorventComp that offers it)")
    ->check(CLI::Range(1u, 9u))->capture_default_str();
  app.add_option("--ca", connection.caFile, "TLS: PEM file of the authority whose certificates are trusted")
    ->check(CLI::ExistingFile);
  app.add_option("--cert", connection.certificate, "TLS: PEM file with this end's private key and certificate")
    ->check(CLI::ExistingFile);
  app.add_option("--timeout", connection.timeoutSeconds,
                 "seconds any call may take; map transfers get 1 s more per 8 MiB")
    ->check(positiveNumber)->check(CLI::Range(0.001, 86400.0))->capture_default_str();
  app.add_option("--max-message", connection.maxMessageBytes,
                 "largest GIOP message in bytes; KorventComp's -ORBgiopMaxMsgSize must allow it too")
    ->check(CLI::Range(1024ul, 4294967295ul))->capture_default_str();
  app.add_flag("-q,--quiet", quiet, "no transfer times on standard error");

  std::string file;
  std::string size;
  bool force = false;
  bool occupancy = false;
  std::vector<int> at;
  CLI::App* set = app.add_subcommand("set", "store FILE as the map, or with --at as a rectangle of it");
  set->add_option("file", file, "map YAML, PGM, PNG, or raw octets with --size")->required();
  set->add_option("--at", at, "X,Y: store FILE's cells as the rectangle whose first cell is X,Y of the stored map")
    ->delimiter(',')->expected(2)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  set->add_option("--size", size, "WIDTHxHEIGHT of a raw file (each -32768 to 32767)");
  set->add_flag("--force", force, "store a raw file whose byte count is not WIDTH x HEIGHT");
  set->add_flag("--occupancy", occupancy, "store occupancy values (see the cell layout)");
  mapio::MapDescription described;
  set->add_option("--frame", described.frame, "with a YAML: the frame its origin is in")->capture_default_str();
  set->add_option("--note", described.text, "with a YAML: a short note kept with its description");

  mapio::MapWriteOptions writeOptions;
  std::string mode = "trinary";
  std::vector<double> origin{0.0, 0.0, 0.0};
  std::vector<int> region;
  CLI::App* get = app.add_subcommand("get", "write the stored map, or with --region a rectangle of it, to FILE");
  get->add_option("file", file, "written by extension: .yaml/.yml, .pgm, .png, else raw")->required();
  get->add_option("--region", region, "X,Y,W,H: only the W x H cells whose first cell is X,Y of the stored map")
    ->delimiter(',')->expected(4)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  get->add_flag("--occupancy", occupancy, "the map holds occupancy values: convert them to grey");
  CLI::Option* modeGiven =
    get->add_option("--mode", mode, "mode written to a YAML and used by --occupancy: trinary, scale or raw; "
                                    "default the stored one, else trinary");
  CLI::Option* resolutionGiven =
    get->add_option("--resolution", writeOptions.metadata.resolution,
                    "metres per cell, for a YAML; default the stored one, else 0.05")
      ->check(positiveNumber);
  CLI::Option* originGiven =
    get->add_option("--origin", origin, "x,y,yaw of the lower-left cell, for a YAML; default the stored one "
                                        "(of the whole map, so not with --region), else 0,0,0")
      ->delimiter(',')->expected(3)->multi_option_policy(CLI::MultiOptionPolicy::Throw);

  std::string watchFile;
  CLI::App* watch = app.add_subcommand("watch", "print one line per stored map (version, size, CRC, time) until Ctrl-C");
  watch->add_option("--get", watchFile, "fetch the map into this file after each change");

  bool json = false;
  CLI::App* info = app.add_subcommand("info", "describe the stored map: size, cells, version, time stored, "
                                              "resolution and origin");
  info->add_flag("--json", json, "one JSON object instead of text");

  try {
    app.parse(argc, argv);
    if (noCompression)
      connection.compressionLevel = 0;
  }
  catch (const CLI::Success& done) {
    return app.exit(done);
  }
  catch (const CLI::ParseError& error) {
    std::cerr << "korvent-map: " << error.what() << " (command line; see --help)" << std::endl;
    return 2;
  }

  try {
    if (set->parsed()) {
      mapio::GridMap map;
      if (!size.empty()) {
        short width = 0, height = 0;
        sizeFrom(size, width, height);
        map = mapio::readRawMap(file, width, height, force);
      }
      else {
        map = mapio::readMapFile(file, occupancy);
      }
      const bool yaml = size.empty() && mapio::formatOf(file) == mapio::MapFormat::Yaml;
      if (yaml) {
        const std::string frame = described.frame, note = described.text;
        described = mapio::describedBy(mapio::readMapYaml(file), frame);
        described.text = note;
      }
      KorventConnection korvent(connection);
      const TransferReport report(quiet);
      if (at.empty()) {
        // One call, so that no reader sees the new cells with the old description.
        if (yaml)
          korvent.setDescribedMap(map, described);
        else
          korvent.setGridMap(map);
        report.done("sent", map.cells.size());
        std::cout << "stored " << map.width << " x " << map.height << ", " << map.cells.size()
                  << " bytes from " << file << std::endl;
      }
      else {
        const std::uint64_t version = korvent.setRegion(at[0], at[1], map);
        report.done("sent", map.cells.size());
        std::cout << "stored " << map.width << " x " << map.height << " at " << at[0] << "," << at[1]
                  << " from " << file << ", version " << version << std::endl;
      }
    }
    else if (get->parsed()) {
      const mapio::OccupancyMode modeNamed = mapio::occupancyModeNamed(mode, "--mode");
      if (origin.size() != writeOptions.metadata.origin.size())
        throw MapError("origin takes three numbers, x,y,yaw", "--origin");
      // Only a YAML or occupancy values need the description.
      const bool describing = occupancy || mapio::formatOf(file) == mapio::MapFormat::Yaml;
      KorventConnection korvent(connection);
      const TransferReport report(quiet);
      korvent::MapInfo stored;
      korvent::GridMap fetched;
      korvent::Region part;
      mapio::GridMapView map;
      if (region.empty()) {
        fetched = describing ? korvent.getDescribedMap(stored) : korvent.getGridMap();
        map = viewOf(fetched);
      }
      else {
        if (describing)
          stored = korvent.info();
        part = korvent.getRegion(region[0], region[1], region[2], region[3]);
        map = viewOf(part);
      }
      report.done("received", map.cells.size());
      const double resolution = writeOptions.metadata.resolution;
      if (stored.description)
        writeOptions.metadata = mapio::metadataOf(fileDescriptionOf(*stored.description));
      if (!region.empty())
        writeOptions.metadata.origin = {};
      writeOptions.occupancy = occupancy;
      if (modeGiven->count() > 0 || !stored.description)
        writeOptions.metadata.mode = modeNamed;
      if (resolutionGiven->count() > 0)
        writeOptions.metadata.resolution = resolution;
      if (originGiven->count() > 0)
        std::copy(origin.begin(), origin.end(), writeOptions.metadata.origin.begin());
      mode = mapio::nameOf(writeOptions.metadata.mode);
      const mapio::MapWriteResult written = mapio::writeMapFile(file, map, writeOptions);
      if (written.written == mapio::MapFormat::Raw && mapio::formatOf(file) != mapio::MapFormat::Raw)
        std::cerr << "korvent-map: warning: the stored map's " << map.cells.size() << " bytes are not an image of "
                  << map.width << " x " << map.height << "; saved raw (" << file << ")" << std::endl;
      if (written.approximatedCells > 0)
        std::cerr << "korvent-map: warning: " << written.approximatedCells << " cells hold values that mode "
                  << mode << " cannot express; written as the nearest one (" << file << ")" << std::endl;
      std::cout << "fetched " << map.width << " x " << map.height << ", " << map.cells.size() << " bytes into "
                << file << (written.imagePath.empty() ? "" : " and " + written.imagePath) << std::endl;
    }
    else if (watch->parsed()) {
      KorventConnection korvent(connection);
      std::signal(SIGINT, [](int) { interrupted = 1; });
      std::signal(SIGTERM, [](int) { interrupted = 1; });
      watchChanges(korvent, watchFile, interrupted);
    }
    else {
      KorventConnection korvent(connection);
      const korvent::MapSummary counted = korvent.summary();
      const korvent::MapInfo& stored = counted.info;
      const mapio::MapSummary summary(stored.width, stored.height, counted.bytes, counted.crc32, counted.valueCounts);
      std::optional<mapio::MapDescription> description;
      if (stored.description)
        description = fileDescriptionOf(*stored.description);
      const std::string storedAt = stored.version == 0 ? "" : mapio::isoTime(stored.storedAt);
      if (json)
        std::cout << "{" << summary.jsonMembers() << ", \"version\": " << stored.version << ", \"stored_at\": "
                  << (storedAt.empty() ? "null" : "\"" + storedAt + "\"") << ", "
                  << mapio::descriptionJsonMembers(description ? &*description : nullptr, stored.confirmed) << "}"
                  << std::endl;
      else
        std::cout << summary.text() << "version     " << stored.version << "\nstored      "
                  << (storedAt.empty() ? "never" : storedAt) << "\n"
                  << mapio::descriptionText(description ? &*description : nullptr, stored.confirmed) << std::flush;
    }
  }
  catch (const MapError& error) {
    std::cerr << "korvent-map: " << error.what() << std::endl;
    return 1;
  }
  catch (const std::bad_alloc&) {
    std::cerr << "korvent-map: out of memory (" << file << ")" << std::endl;
    return 1;
  }
  catch (const CORBA::Exception& error) {
    // Anything KorventConnection did not foresee still ends in one line.
    std::cerr << "korvent-map: unexpected CORBA exception " << error._name() << " ("
              << (connection.reference.empty() ? connection.componentName : connection.reference.substr(0, 80))
              << ")" << std::endl;
    return 1;
  }
  return 0;
}
