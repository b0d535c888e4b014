// The store file's writer on its own, against an in-process store.
#include "store/DurableMapWriter.h"
#include "store/RegionRefused.h"
#include "NameServer.h"
#include "TemporaryFolder.h"

#include "mapio/MapError.h"
#include "mapio/MapLog.h"
#include "mapio/MapLogReplay.h"
#include "mapio/StoreFile.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(DurableMapWriter, ShutdownWritesTheNewestOfManyQuickSets)
{
  TemporaryFolder folder;
  GridMapStore store;
  {
    DurableMapWriter writer(store, folder / "map.store");
    for (int i = 0; i < 200; ++i) {
      const std::string cells = "map " + std::to_string(i);
      store.replace(cells.data(), cells.size(), static_cast<short>(i), 1);
    }
  }
  const std::optional<mapio::GridMap> stored = mapio::readStoreFile(folder / "map.store");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->cells, "map 199");
  EXPECT_EQ(stored->width, 199);
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"map.store", "map.store.log"}));
}

TEST(DurableMapWriter, StopsObservingWhenDestroyed)
{
  TemporaryFolder folder;
  GridMapStore store;
  { DurableMapWriter writer(store, folder / "map.store"); }
  store.replace("later", 5, 5, 1);  // must not reach the destroyed writer
  EXPECT_EQ(folder.entries(), std::vector<std::string>{});
}

TEST(DurableMapWriter, UnwritableFileNeitherBlocksSetsNorShutdown)
{
  TemporaryFolder folder;
  GridMapStore store;
  {
    DurableMapWriter writer(store, folder / "absent/map.store", std::nullopt, std::chrono::milliseconds(10));
    for (int i = 0; i < 20; ++i)
      store.replace("x", 1, 1, 1);
    EXPECT_EQ(store.current()->bytes(), "x");
  }
  EXPECT_EQ(folder.entries(), std::vector<std::string>{});
}

namespace
{
  // What the files hold: the store file's map with its log replayed.
  mapio::StoredMap onDisk(const std::string& path)
  {
    mapio::StoredMap map = *mapio::readStoreFile(path);
    mapio::replayMapLog(path + ".log", map);
    return map;
  }

  void expectRefusedAsNotSaved(const std::function<void()>& write)
  {
    try {
      write();
      ADD_FAILURE() << "the write was taken";
    }
    catch (const RegionRefused& refused) {
      EXPECT_EQ(RegionRefused::Reason::NotSaved, refused.reason()) << refused.what();
    }
  }
}

// Region and description writes return once their records are written, and
// are refused, changing nothing, while the map cannot be saved; the first
// save that succeeds takes them again.
TEST(DurableMapWriter, WritesAreOnDiskWhenAcknowledgedAndRefusedWhileSavesFail)
{
  TemporaryFolder folder;
  std::filesystem::create_directory(folder / "maps");
  const std::string path = folder / "maps/map.store";
  GridMapStore store;
  DurableMapWriter writer(store, path, std::nullopt, std::chrono::milliseconds(10));
  store.replace("abcdefgh", 8, 4, 2);
  store.writeRegion(CellRectangle{1, 1, 2, 1}, "XY", 2);
  mapio::MapDescription description;
  description.text = "logged";
  const std::uint64_t described = store.describe(description);
  mapio::StoredMap saved = onDisk(path);
  EXPECT_EQ(described, saved.version);
  EXPECT_EQ("abcdeXYh", saved.cells);
  ASSERT_TRUE(saved.description);
  EXPECT_EQ("logged", saved.description->description.text);

  // The folder goes: the next whole map is served, and cannot be saved.
  std::filesystem::remove_all(folder / "maps");
  const std::uint64_t unsaved = store.replace("ijklmnop", 8, 4, 2);
  ASSERT_NE("", writer.flush());
  expectRefusedAsNotSaved([&] { store.writeRegion(CellRectangle{0, 0, 1, 1}, "?", 1); });
  expectRefusedAsNotSaved([&] { store.describe(description); });
  EXPECT_EQ(unsaved, store.current()->version);
  EXPECT_EQ("ijklmnop", store.current()->bytes());

  // It comes back: the retried save takes writes again.
  std::filesystem::create_directory(folder / "maps");
  ASSERT_TRUE(waitFor([&] {
    try {
      store.writeRegion(CellRectangle{0, 0, 1, 1}, "!", 1);
      return true;
    }
    catch (const RegionRefused&) {
      return false;
    }
  }, std::chrono::seconds(20)));
  EXPECT_EQ("!jklmnop", onDisk(path).cells);
}

namespace
{
  // The map after each of the writer's records, from the same writes.
  struct WrittenLog
  {
    std::vector<std::string> maps;  // maps[k]: after the first k records
    std::vector<std::size_t> ends;  // ends[k]: the log's length after k records
  };

  WrittenLog writeRegionsThroughTheWriter(const TemporaryFolder& folder)
  {
    constexpr int width = 300, height = 200;
    GridMapStore store;
    WrittenLog log;
    std::string model(width * height, '.');
    {
      DurableMapWriter writer(store, folder / "map.store");
      store.replace(model.data(), model.size(), width, height);
      log.maps.push_back(model);
      const CellRectangle areas[] = {{0, 0, 1, 1}, {290, 190, 10, 10}, {20, 30, 260, 3}, {5, 0, 2, 200}};
      char value = 'a';
      for (const CellRectangle& area : areas) {
        const std::string cells(static_cast<std::size_t>(area.width) * area.height, value++);
        store.writeRegion(area, cells.data(), cells.size());
        for (int row = 0; row < area.height; ++row)
          model.replace(static_cast<std::size_t>(area.y + row) * width + area.x, area.width, cells, 0, area.width);
        log.maps.push_back(model);
      }
    }
    // Writes that came before the first map was on disk went into it whole.
    const std::string snapshot = mapio::readStoreFile(folder / "map.store")->cells;
    while (!log.maps.empty() && log.maps.front() != snapshot)
      log.maps.erase(log.maps.begin());
    const std::string bytes = fileContent(folder / "map.store.log");
    for (std::size_t at = mapio::maplog::headerSize; at <= bytes.size();) {
      log.ends.push_back(at);
      if (at == bytes.size())
        break;
      at += static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8 |
            static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 2])) << 16;
    }
    return log;
  }

  // The store file's map replayed with `log` as its log.
  std::pair<mapio::StoredMap, mapio::LogReplay> replayedWith(const TemporaryFolder& folder, const std::string& log)
  {
    writeFile(folder / "damaged.log", log);
    mapio::StoredMap map = *mapio::readStoreFile(folder / "map.store");
    const mapio::LogReplay replay = mapio::replayMapLog(folder / "damaged.log", map);
    return {std::move(map), replay};
  }
}

// A log cut anywhere replays to the map of the last whole record, saying so
// unless the cut fell between records; a flipped bit drops the last record
// but stops the replay when intact records follow it.
TEST(DurableMapWriter, LogReplaysToTheLastIntactRecordAndRefusesDamageInTheMiddle)
{
  TemporaryFolder folder;
  const WrittenLog written = writeRegionsThroughTheWriter(folder);
  ASSERT_EQ(written.ends.size(), written.maps.size());
  ASSERT_GE(written.ends.size(), 3u) << "too few records to tell the middle from the end";
  const std::string log = fileContent(folder / "map.store.log");

  for (std::size_t k = 0; k < written.ends.size(); ++k) {
    const auto [atBoundary, clean] = replayedWith(folder, log.substr(0, written.ends[k]));
    EXPECT_EQ(written.maps[k], atBoundary.cells) << "cut after record " << k;
    EXPECT_EQ("", clean.tailProblem);
    EXPECT_EQ(written.ends[k], clean.intactBytes);
    if (k + 1 == written.ends.size())
      break;
    for (std::size_t inside : {written.ends[k] + 1, written.ends[k] + 30, written.ends[k + 1] - 1}) {
      const auto [cut, replay] = replayedWith(folder, log.substr(0, inside));
      EXPECT_EQ(written.maps[k], cut.cells) << "cut inside record " << k + 1 << " at " << inside;
      EXPECT_NE("", replay.tailProblem);
      EXPECT_EQ(written.ends[k], replay.intactBytes);
    }

    // One bit in each record, in its header, its cells or its checksum.
    const std::size_t length = written.ends[k + 1] - written.ends[k];
    for (std::size_t offset : {std::size_t(0), std::size_t(9), length / 2, length - 6, length - 1}) {
      std::string flipped = log;
      flipped[written.ends[k] + offset] = static_cast<char>(flipped[written.ends[k] + offset] ^ 0x10);
      if (k + 2 == written.ends.size()) {
        const auto [kept, replay] = replayedWith(folder, flipped);
        EXPECT_EQ(written.maps[k], kept.cells) << "last record flipped at " << offset;
        EXPECT_NE("", replay.tailProblem);
      }
      else {
        EXPECT_THROW(replayedWith(folder, flipped), mapio::MapError) << "record " << k + 1 << " flipped at " << offset;
      }
    }
  }
}
