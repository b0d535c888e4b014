// KorventComp's start-up map and durable map: loaded before the name is
// bound, kept across restarts, never torn by a crash.
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"

#include "mapio/MapError.h"
#include "mapio/MapFile.h"
#include "mapio/MapLog.h"
#include "mapio/StoreFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <random>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  // Map number `n` of a stream: 512 x 512 cells, every cell tells n apart.
  std::string streamMap(int n)
  {
    std::string cells(512 * 512, '\0');
    for (std::size_t i = 0; i < cells.size(); ++i)
      cells[i] = static_cast<char>((n * 31 + i / 512) & 0xff);
    return cells;
  }

  // A tmpfs of `size` mounted at `folder` for the test, detached however it ends.
  class SmallDisk
  {
  public:
    SmallDisk(const std::string& folder, const std::string& size) : folder_(folder)
    {
      ::mkdir(folder.c_str(), 0700);
      mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallDisk()
    {
      if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

    // Writes `path` until the disk is full.
    static void fill(const std::string& path)
    {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      const std::string chunk(4096, 'f');
      while (::write(fd, chunk.data(), chunk.size()) > 0) {
      }
      ::close(fd);
    }

  private:
    std::string folder_;
    bool mounted_ = false;
  };

  bool exitedWith(const std::optional<int>& status, int code)
  {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
  }

  class DurableMap : public ::testing::Test
  {
  protected:
    void SetUp() override { names_.start(); }

    void TearDown() override
    {
      if (component_ && component_->running()) {
        EXPECT_TRUE(exitedWith(component_->stop(SIGTERM, 20s), 0)) << component_->errorOutput();
      }
    }

    std::vector<std::string> storeArgs() const { return {"-o", "korvent.map.store:" + storePath()}; }
    std::string storePath() const { return folder_ / "map.store"; }

    void start(const std::vector<std::string>& args)
    {
      component_ = startKorventComp(names_.address(), args);
      ASSERT_TRUE(waitFor([this] { return korventBound(names_); }, 20s)) << component_->errorOutput();
    }

    void stopCleanly() { EXPECT_TRUE(exitedWith(component_->stop(SIGTERM, 20s), 0)) << component_->errorOutput(); }

    // Start-up that must fail: its exit status and standard error.
    std::pair<std::optional<int>, std::string> failedStart(const std::vector<std::string>& args)
    {
      std::unique_ptr<ChildProcess> process = startKorventComp(names_.address(), args);
      std::optional<int> status = process->wait(20s);
      return {status, process->errorOutput()};
    }

    ToolOutcome tool(const std::vector<std::string>& args) { return runKorventMap(names_.address(), args); }

    std::string storedCells()
    {
      const ToolOutcome got = tool({"-q", "get", folder_ / "got.raw"});
      EXPECT_TRUE(got.succeeded()) << got.err;
      return fileContent(folder_ / "got.raw");
    }

    void set(const std::string& cells, const std::string& size)
    {
      writeFile(folder_ / "set.raw", cells);
      const ToolOutcome outcome = tool({"-q", "set", "--size", size, folder_ / "set.raw"});
      ASSERT_TRUE(outcome.succeeded()) << outcome.err;
    }

    bool storeHolds(const std::string& cells) const { return fileHolds(storePath(), cells); }

    static bool fileHolds(const std::string& path, const std::string& cells)
    {
      try {
        const std::optional<mapio::GridMap> stored = mapio::readStoreFile(path);
        return stored && stored->cells == cells;
      }
      catch (const mapio::MapError&) {
        return false;  // not there yet under its name
      }
    }

    NameServer names_;
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> component_;
  };
}

TEST_F(DurableMap, StartupMapIsServedFromTheFirstCall)
{
  writeFile(folder_ / "start.pgm", "P5\n2 2\n255\nwxyz");
  start({"-o", "korvent.map.load:" + (folder_ / "start.pgm")});
  EXPECT_EQ(storedCells(), "wxyz");
  const ToolOutcome info = tool({"info"});
  EXPECT_NE(info.out.find("width       2\nheight      2\n"), std::string::npos) << info.out;
}

TEST_F(DurableMap, UnreadableStartupMapStopsStartWithOneLine)
{
  writeFile(folder_ / "bad.yaml", "image: [broken\n");
  for (const std::string& file : {folder_ / "bad.yaml", folder_ / "absent.pgm"}) {
    const auto [status, err] = failedStart({"-o", "korvent.map.load:" + file});
    EXPECT_TRUE(exitedWith(status, 1)) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("KorventComp: ", 0), 0u) << err;
    EXPECT_NE(err.find(file), std::string::npos) << err;
  }
  writeFile(folder_ / "good.pgm", "P5\n1 1\n255\ng");
  const auto [status, err] = failedStart({"-o", "korvent.map.load:" + (folder_ / "good.pgm"),
                                          "-o", "korvent.map.load.occupancy:maybe"});
  EXPECT_TRUE(exitedWith(status, 1)) << err;
  EXPECT_EQ(err, "KorventComp: korvent.map.load.occupancy must be yes or no, not 'maybe' (configuration)\n");
}

TEST_F(DurableMap, RestartServesTheLastMapAndTheStoreWinsOverTheStartupMap)
{
  writeFile(folder_ / "start.pgm", "P5\n1 1\n255\ns");
  std::vector<std::string> args = storeArgs();
  args.insert(args.end(), {"-o", "korvent.map.load:" + (folder_ / "start.pgm")});
  start(args);
  EXPECT_EQ(storedCells(), "s");
  ASSERT_TRUE(waitFor([this] { return storeHolds("s"); }, 20s));  // the start-up map is kept too
  set("first", "5x1");
  set("second map", "5x2");
  stopCleanly();
  EXPECT_TRUE(storeHolds("second map"));

  start(args);
  EXPECT_EQ(storedCells(), "second map");
  const ToolOutcome info = tool({"info", "--json"});
  EXPECT_NE(info.out.find("\"width\": 5, \"height\": 2"), std::string::npos) << info.out;
}

TEST_F(DurableMap, StartupYamlBringsItsDescriptionAndItSurvivesSigkill)
{
  mapio::MapWriteOptions yaml;
  yaml.metadata.resolution = 0.025;
  yaml.metadata.origin = {-12.5, 3.0, 0.1};
  yaml.metadata.mode = mapio::OccupancyMode::Scale;
  mapio::writeMapFile(folder_ / "start.yaml", mapio::GridMap{3, 2, "abcdef"}, yaml);
  std::vector<std::string> args = storeArgs();
  args.insert(args.end(), {"-o", "korvent.map.load:" + (folder_ / "start.yaml")});
  start(args);
  const auto described = [this](const std::string& field) {
    const ToolOutcome info = tool({"info", "--json"});
    EXPECT_TRUE(info.succeeded()) << info.err;
    return nlohmann::json::parse(info.out).at("description").at(field);
  };
  EXPECT_EQ(described("resolution").get<double>(), 0.025);
  EXPECT_EQ(described("mode"), "scale");

  // Only the description changes; the store file follows, and a killed
  // process leaves it for the next.
  yaml.metadata.origin = {-1.0, -2.0, -0.5};
  mapio::writeMapFile(folder_ / "moved.yaml", mapio::GridMap{3, 2, "abcdef"}, yaml);
  ASSERT_TRUE(tool({"-q", "set", "--note", "moved", folder_ / "moved.yaml"}).succeeded());
  ASSERT_TRUE(waitFor([this] {
    try {
      const std::optional<mapio::StoredMap> stored = mapio::readStoreFile(storePath());
      return stored && stored->description && stored->description->description.text == "moved";
    }
    catch (const mapio::MapError&) {
      return false;
    }
  }, 20s));
  EXPECT_TRUE(component_->stop(SIGKILL, 20s));

  start(args);  // the store wins over the start-up YAML
  EXPECT_EQ(described("origin"), nlohmann::json::parse("[-1, -2, -0.5]"));
  EXPECT_EQ(described("text"), "moved");
  std::filesystem::create_directory(folder_ / "out");
  ASSERT_TRUE(tool({"-q", "get", folder_ / "out/moved.yaml"}).succeeded());
  EXPECT_EQ(fileContent(folder_ / "out/moved.yaml"), fileContent(folder_ / "moved.yaml"));
}

TEST_F(DurableMap, DamagedStoreFileStopsStartAndIsLeftAlone)
{
  mapio::writeStoreFile(storePath(), 4, 1, "good", 1);
  const std::string good = fileContent(storePath());
  auto flipped = [&](std::size_t at) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x80);
    return bytes;
  };
  const std::vector<std::pair<std::string, std::string>> damaged{
    {good.substr(0, good.size() - 1), "truncated"},
    {good.substr(0, 20), "header incomplete"},
    {good.substr(0, good.size() - 1) + "X", "checksum mismatch"},
    {flipped(8), "version"},
    {flipped(23), "truncated"},    // the cell count's top byte
    {flipped(27), "checksum mismatch"},
    {"junk", "not a map store file"},
  };
  for (const auto& [content, mention] : damaged) {
    writeFile(storePath(), content);
    const auto [status, err] = failedStart(storeArgs());
    EXPECT_TRUE(exitedWith(status, 1)) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(mention), std::string::npos) << err;
    EXPECT_EQ(fileContent(storePath()), content);
  }
}

TEST_F(DurableMap, OneProcessPerStoreAndTheLockGoesWithAKilledProcess)
{
  start(storeArgs());
  set("firs", "2x2");
  ASSERT_TRUE(waitFor([this] { return storeHolds("firs"); }, 20s));

  // A second process on the same store stops before serving and says who holds it.
  const auto [status, err] = failedStart(storeArgs());
  EXPECT_TRUE(exitedWith(status, 1)) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(storePath()), std::string::npos) << err;
  EXPECT_NE(err.find("process " + std::to_string(component_->pid())), std::string::npos) << err;
  EXPECT_EQ(storedCells(), "firs");

  // SIGKILL takes the lock with it: the next start serves the store.
  ASSERT_TRUE(component_->stop(SIGKILL, 20s));
  start(storeArgs());
  EXPECT_EQ(storedCells(), "firs");
}

TEST_F(DurableMap, WriteFailuresAreReportedOnceAndRetried)
{
  ::mkdir((folder_ / "maps").c_str(), 0700);
  const std::string path = folder_ / "maps/map.store";
  start({"-o", "korvent.map.store:" + path});
  set("kept", "2x2");
  ASSERT_TRUE(waitFor([&] { return fileHolds(path, "kept"); }, 20s));

  // The folder goes away: sets still work from memory, one line says so.
  std::filesystem::remove_all(folder_ / "maps");
  set("one", "3x1");
  set("two", "3x1");
  ASSERT_TRUE(waitFor([this] { return component_->errorOutput().find("cannot save the map") != std::string::npos; }, 20s));
  EXPECT_EQ(storedCells(), "two");

  // It comes back: the newest map is written without another set.
  ::mkdir((folder_ / "maps").c_str(), 0700);
  ASSERT_TRUE(waitFor([&] { return fileHolds(path, "two"); }, 20s));
  ASSERT_TRUE(waitFor([this] { return component_->errorOutput().find("written again") != std::string::npos; }, 20s));
  const std::string err = component_->errorOutput();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
}

TEST_F(DurableMap, WritesAreRefusedWhileTheDiskIsFullAndTakenAgainOnceASaveSucceeds)
{
  SmallDisk disk(folder_ / "disk", "4m");
  if (!disk.mounted())
    GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string path = folder_ / "disk/map.store";
  const std::vector<std::string> args{"-o", "korvent.map.store:" + path};
  start(args);
  const std::string first(1 << 20, 'a');
  set(first, "1024x1024");
  ASSERT_TRUE(waitFor([&] { return fileHolds(path, first); }, 20s));

  // The disk fills: the next whole map is served from memory, not saved.
  SmallDisk::fill(folder_ / "disk/filler");
  const std::string second(1 << 20, 'b');
  set(second, "1024x1024");
  ASSERT_TRUE(waitFor([this] { return component_->errorOutput().find("cannot save the map") != std::string::npos; }, 20s));
  const std::string versionBefore = nlohmann::json::parse(tool({"info", "--json"}).out)["version"].dump();

  // Region writes are refused, saying why, and change nothing.
  writeFile(folder_ / "cell.raw", "z");
  const ToolOutcome refused = tool({"-q", "set", "--at", "0,0", "--size", "1x1", folder_ / "cell.raw"});
  EXPECT_TRUE(refused.failedWithOneLine()) << refused.err;
  EXPECT_NE(refused.err.find("No space left on device"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("taken again once a save succeeds"), std::string::npos) << refused.err;
  EXPECT_EQ(nlohmann::json::parse(tool({"info", "--json"}).out)["version"].dump(), versionBefore);
  EXPECT_EQ(storedCells(), second);

  // Room again: the map is saved by itself, and writes are taken again and kept.
  std::filesystem::remove(folder_ / "disk/filler");
  ASSERT_TRUE(waitFor([this] { return component_->errorOutput().find("written again") != std::string::npos; }, 20s));
  const ToolOutcome taken = tool({"-q", "set", "--at", "0,0", "--size", "1x1", folder_ / "cell.raw"});
  ASSERT_TRUE(taken.succeeded()) << taken.err;
  ASSERT_TRUE(component_->stop(SIGKILL, 20s));
  start(args);
  EXPECT_EQ(storedCells(), "z" + second.substr(1));
}

TEST_F(DurableMap, KilledDuringAStreamOfSetsRestartsWithACompleteMap)
{
  std::mt19937 random(std::random_device{}());
  int next = 0;
  for (int round = 0; round < 5; ++round) {
    start(storeArgs());
    const std::string settled = streamMap(next++);
    set(settled, "512x512");
    ASSERT_TRUE(waitFor([&] { return storeHolds(settled); }, 20s));

    // A client sets maps one after another until KorventComp is gone.
    const int first = next;
    std::atomic<int> started{first};
    std::atomic<bool> stop{false};
    std::thread client([&] {
      for (int n = first; !stop; ++n) {
        const std::string file = folder_ / ("stream" + std::to_string(n % 2) + ".raw");
        writeFile(file, streamMap(n));
        started = n + 1;
        if (!runKorventMap(names_.address(), {"-q", "set", "--size", "512x512", file}).succeeded())
          break;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 400)(random)));
    EXPECT_TRUE(component_->stop(SIGKILL, 20s));
    stop = true;
    client.join();
    next = started;

    start(storeArgs());
    const std::string served = storedCells();
    bool oneOfTheSetMaps = false;
    for (int n = first - 1; n < next && !oneOfTheSetMaps; ++n)
      oneOfTheSetMaps = served == streamMap(n);
    EXPECT_TRUE(oneOfTheSetMaps) << "round " << round << ": " << served.size() << " bytes";
    for (const std::string& name : folder_.entries())
      EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name << " left from the killed writer";
    stopCleanly();
  }
}

TEST_F(DurableMap, DamagedLogEndIsDroppedWithOneWarningAndDamageBeforeItStopsStart)
{
  mapio::writeStoreFile(storePath(), 4, 1, "abcd", 5);
  std::string records;
  for (const auto& [version, cell] : {std::pair<std::uint64_t, char>{6, 'X'}, {7, 'Y'}}) {
    const std::size_t start = records.size();
    const std::size_t at = mapio::maplog::beginRegionRecord(records, version, version - 1, int(version - 6), 0, 1, 1);
    records[at] = cell;
    mapio::maplog::endRecord(records, start);
  }
  const std::string log = mapio::maplog::header(5) + records;
  const std::string logPath = storePath() + ".log";

  writeFile(logPath, log.substr(0, log.size() - 3));
  start(storeArgs());
  EXPECT_EQ(storedCells(), "Xbcd");
  stopCleanly();
  const std::string err = component_->errorOutput();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("WARN"), std::string::npos) << err;
  EXPECT_NE(err.find("the map is at version 6"), std::string::npos) << err;

  std::string flipped = log;
  flipped[mapio::maplog::headerSize + 40] ^= 0x01;  // the first record's cell
  writeFile(logPath, flipped);
  const auto [status, failure] = failedStart(storeArgs());
  EXPECT_TRUE(exitedWith(status, 1)) << failure;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1) << failure;
  EXPECT_NE(failure.find("corrupt"), std::string::npos) << failure;
  EXPECT_EQ(fileContent(logPath), flipped);
}
