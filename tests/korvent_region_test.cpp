// The region service on "KorventPV", against the real KorventComp.
#include "GridMapClient.h"
#include "KorventProcess.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  std::vector<CORBA::Octet> cellOctets(const KorventRegion::CellSeq& cells)
  {
    return std::vector<CORBA::Octet>(cells.get_buffer(), cells.get_buffer() + cells.length());
  }

  std::vector<CORBA::Octet> patterned(std::size_t length)
  {
    std::vector<CORBA::Octet> cells(length);
    for (std::size_t i = 0; i < length; ++i)
      cells[i] = static_cast<CORBA::Octet>(i * 13 + i / 509);
    return cells;
  }

  // The rectangle of a `width`-wide model map.
  std::vector<CORBA::Octet> cut(const std::vector<CORBA::Octet>& model, int width, int x, int y, int w, int h)
  {
    std::vector<CORBA::Octet> out;
    for (int row = y; row < y + h; ++row)
      out.insert(out.end(), model.begin() + row * width + x, model.begin() + row * width + x + w);
    return out;
  }

  std::vector<CORBA::Octet> wholeMap(Korvent_ptr service)
  {
    CORBA::Short width = 0;
    CORBA::Short height = 0;
    RTC::TimedOctetSeq map;
    service->getGridMap(width, height, map);
    return octetsOf(map);
  }

  // The refusal `call` raised; fails the test if it returned.
  KorventRegion::Refused refusalOf(const std::function<void()>& call)
  {
    try {
      call();
    }
    catch (const KorventRegion::Refused& refused) {
      return refused;
    }
    ADD_FAILURE() << "not refused";
    return KorventRegion::Refused();
  }

  bool exitedCleanly(const std::optional<int>& status)
  {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  constexpr int mapWidth = 700;
  constexpr int mapHeight = 530;
}

TEST(KorventRegion, RegionsReadAndWriteTheMapStoredWholeAtCornersAndAcrossTiles)
{
  RunningKorvent korvent;
  const std::vector<CORBA::Octet> model = patterned(mapWidth * mapHeight);
  korvent.service->setGridMap(mapWidth, mapHeight, makeMap(model));
  const KorventRegion::MapShape shape = korvent.region->shape();
  EXPECT_EQ(mapWidth, shape.width);
  EXPECT_EQ(mapHeight, shape.height);

  // Corners, a whole row and column, and rectangles across tile borders.
  const int areas[][4] = {{0, 0, 1, 1},           {mapWidth - 1, 0, 1, 1},   {0, mapHeight - 1, 1, 1},
                          {mapWidth - 3, mapHeight - 2, 3, 2}, {0, 17, mapWidth, 1}, {511, 0, 1, mapHeight},
                          {200, 200, 300, 300}};
  for (const auto& a : areas) {
    CORBA::ULongLong version = 0;
    KorventRegion::CellSeq_var cells = korvent.region->getRegion(a[0], a[1], a[2], a[3], version);
    EXPECT_EQ(cut(model, mapWidth, a[0], a[1], a[2], a[3]), cellOctets(cells.in())) << a[0] << "," << a[1];
    EXPECT_EQ(shape.version, version);
  }

  // A write at the far corner shows in the whole map, and only there.
  std::vector<CORBA::Octet> expected = model;
  const std::vector<CORBA::Octet> corner{1, 2, 3, 4, 5, 6};
  const CORBA::ULongLong written = korvent.region->setRegion(mapWidth - 3, mapHeight - 2, 3, 2, cellSeqOf(corner));
  EXPECT_EQ(shape.version + 1, written);
  for (int i = 0; i < 6; ++i)
    expected[(mapHeight - 2 + i / 3) * mapWidth + mapWidth - 3 + i % 3] = corner[i];
  EXPECT_EQ(expected, wholeMap(korvent.service));
  EXPECT_EQ(written, korvent.region->shape().version);
}

TEST(KorventRegion, EveryRefusalNamesItsReasonAndLeavesTheMapAsItWas)
{
  RunningKorvent korvent;
  const std::vector<CORBA::Octet> model = patterned(mapWidth * mapHeight);
  korvent.service->setGridMap(mapWidth, mapHeight, makeMap(model));
  const CORBA::ULongLong version = korvent.region->shape().version;
  const KorventRegion::CellSeq four = cellSeqOf({9, 9, 9, 9});
  KorventRegion_ptr region = korvent.region.in();
  CORBA::ULongLong ignored = 0;

  const std::pair<KorventRegion::Refusal, std::function<void()>> refused[] = {
    {KorventRegion::OUTSIDE_MAP, [&] { region->setRegion(-1, 0, 2, 2, four); }},
    {KorventRegion::OUTSIDE_MAP, [&] { region->setRegion(mapWidth - 1, 0, 2, 2, four); }},
    {KorventRegion::OUTSIDE_MAP, [&] { region->setRegion(0, mapHeight - 1, 2, 2, four); }},
    {KorventRegion::OUTSIDE_MAP, [&] { region->getRegion(0, 0, 2147483647, 1, ignored); }},
    {KorventRegion::EMPTY_SIZE, [&] { region->setRegion(0, 0, 0, 2, four); }},
    {KorventRegion::EMPTY_SIZE, [&] { region->getRegion(0, 0, -2, -2, ignored); }},
    {KorventRegion::CELL_COUNT_MISMATCH, [&] { region->setRegion(0, 0, 3, 1, four); }},
    {KorventRegion::STALE_VERSION, [&] { region->setRegionAt(version - 1, 0, 0, 2, 2, four); }},
  };
  for (const auto& [reason, call] : refused) {
    const KorventRegion::Refused got = refusalOf(call);
    EXPECT_EQ(reason, got.reason) << got.message.in();
    EXPECT_EQ(version, got.currentVersion);
    EXPECT_NE(std::string(got.message.in()), "");
  }
  EXPECT_EQ(version, korvent.region->shape().version);
  EXPECT_EQ(model, wholeMap(korvent.service));

  // A map stored whole whose length is not width x height has no regions.
  korvent.service->setGridMap(4, 4, makeMap({1, 2, 3}));
  EXPECT_EQ(KorventRegion::MAP_NOT_RECTANGULAR, refusalOf([&] { region->setRegion(0, 0, 2, 2, four); }).reason);
  EXPECT_EQ(KorventRegion::MAP_NOT_RECTANGULAR, refusalOf([&] { region->getRegion(0, 0, 1, 1, ignored); }).reason);
  EXPECT_EQ((std::vector<CORBA::Octet>{1, 2, 3}), wholeMap(korvent.service));
}

TEST(KorventRegion, OfConditionalWritersRacingFromOneVersionExactlyOneWins)
{
  RunningKorvent korvent;
  korvent.service->setGridMap(mapWidth, mapHeight, makeMap(patterned(mapWidth * mapHeight)));
  for (int round = 0; round < 5; ++round) {
    const CORBA::ULongLong start = korvent.region->shape().version;
    std::atomic<int> wins{0};
    std::atomic<int> stale{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w)
      writers.emplace_back([&, w] {
        const std::vector<CORBA::Octet> cells(64 * 64, static_cast<CORBA::Octet>(w));
        try {
          korvent.region->setRegionAt(start, 10 * w, 0, 64, 64, cellSeqOf(cells));
          ++wins;
        }
        catch (const KorventRegion::Refused& refused) {
          stale += refused.reason == KorventRegion::STALE_VERSION;
        }
      });
    for (std::thread& t : writers)
      t.join();
    EXPECT_EQ(1, wins.load());
    EXPECT_EQ(5, stale.load());
    EXPECT_EQ(start + 1, korvent.region->shape().version);
  }
}

// Each write fills one rectangle, across several tiles, with one value: a
// reader that ever sees two values in it saw a mix of two versions.
TEST(KorventRegion, WholeMapAndRegionReadersNeverSeeAHalfWrittenRegion)
{
  RunningKorvent korvent;
  constexpr int x = 100, y = 50, w = 600, h = 400;
  const std::vector<CORBA::Octet> start(mapWidth * mapHeight, 0);
  korvent.service->setGridMap(mapWidth, mapHeight, makeMap(start));

  std::atomic<bool> writing{true};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  auto uniform = [](const std::vector<CORBA::Octet>& cells) {
    return std::all_of(cells.begin(), cells.end(), [&](CORBA::Octet c) { return c == cells.front(); });
  };
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r)
    readers.emplace_back([&] {
      while (writing) {
        const std::vector<CORBA::Octet> map = wholeMap(korvent.service);
        torn += !uniform(cut(map, mapWidth, x, y, w, h)) || map[0] != 0 || map.back() != 0;
        ++reads;
      }
    });
  readers.emplace_back([&] {
    while (writing) {
      CORBA::ULongLong version = 0;
      KorventRegion::CellSeq_var cells = korvent.region->getRegion(x - 1, y, w + 1, h, version);
      const std::vector<CORBA::Octet> got = cellOctets(cells.in());
      torn += !uniform(cut(got, w + 1, 1, 0, w, h)) || got[0] != 0;
    }
  });

  for (int round = 1; round <= 60 || reads < 20; ++round) {
    const std::vector<CORBA::Octet> cells(w * h, static_cast<CORBA::Octet>(round % 250 + 1));
    korvent.region->setRegion(x, y, w, h, cellSeqOf(cells));
  }
  writing = false;
  for (std::thread& t : readers)
    t.join();
  EXPECT_EQ(0, torn.load());
}

TEST(KorventRegion, RestartServesTheLastRegionWriteFromTheDurableMap)
{
  TemporaryFolder folder;
  const std::vector<std::string> args{"-o", "korvent.map.store:" + (folder / "map.store")};
  std::vector<CORBA::Octet> model = patterned(mapWidth * mapHeight);
  {
    RunningKorvent korvent(args);
    korvent.service->setGridMap(mapWidth, mapHeight, makeMap(model));
    for (int i = 0; i < 20; ++i) {
      const std::vector<CORBA::Octet> cells(30 * 20, static_cast<CORBA::Octet>(i));
      korvent.region->setRegion(i * 30, i * 20, 30, 20, cellSeqOf(cells));
      for (int row = 0; row < 20; ++row)
        std::fill_n(model.begin() + (i * 20 + row) * mapWidth + i * 30, 30, static_cast<CORBA::Octet>(i));
    }
    EXPECT_TRUE(exitedCleanly(korvent.process->stop(SIGTERM, 20s))) << korvent.process->errorOutput();
  }
  RunningKorvent restarted(args);
  EXPECT_EQ(mapWidth, restarted.region->shape().width);
  EXPECT_EQ(model, wholeMap(restarted.service));
}

// Region writes stream until KorventComp is killed, in the middle of an
// append or of folding the log into the store file: the next start serves
// the map of the last acknowledged write or of a later one, never a mix,
// and numbers it above every version the killed run answered.
TEST(KorventRegion, KilledDuringRegionWritesRestartsWithAnAcknowledgedMap)
{
  constexpr int side = 1024;  // the log is folded after about 64 writes
  constexpr int edge = 128;
  TemporaryFolder folder;
  const std::vector<std::string> args{"-o", "korvent.map.store:" + (folder / "map.store")};
  auto areaOf = [](int n) { return std::pair<int, int>{(n * 7 % 8) * edge, (n * 3 % 8) * edge}; };
  std::vector<CORBA::Octet> acknowledgedModel(side * side, 0);
  int next = 0;
  CORBA::ULongLong lastVersion = 0;
  for (int round = 0; round < 4; ++round) {
    std::unique_ptr<RunningKorvent> korvent = std::make_unique<RunningKorvent>(args);
    if (round == 0)
      korvent->service->setGridMap(side, side, makeMap(acknowledgedModel));
    EXPECT_GT(korvent->region->shape().version, lastVersion);

    // Each write fills its rectangle with its own number.
    std::vector<CORBA::Octet> model = acknowledgedModel;
    const int first = next;
    std::atomic<int> acknowledged{first};
    std::atomic<CORBA::ULongLong> answered{0};
    std::thread writer([&] {
      try {
        for (int n = first;; ++n) {
          const auto [x, y] = areaOf(n);
          answered = korvent->region->setRegion(x, y, edge, edge,
                                                cellSeqOf(std::vector<CORBA::Octet>(edge * edge, CORBA::Octet(n % 250 + 1))));
          acknowledged = n + 1;
        }
      }
      catch (const CORBA::Exception&) {
      }
    });
    const int until = first + 40 + round * 37;
    EXPECT_TRUE(waitFor([&] { return acknowledged >= until; }, 60s));
    EXPECT_TRUE(korvent->process->stop(SIGKILL, 20s));
    writer.join();
    lastVersion = answered;
    korvent.reset();

    RunningKorvent restarted(args);
    const std::vector<CORBA::Octet> served = wholeMap(restarted.service);
    EXPECT_GT(restarted.region->shape().version, lastVersion);
    // The map after each write from the last acknowledged one on.
    bool matched = false;
    for (int n = first;; ++n) {
      if (n >= acknowledged && served == model) {
        matched = true;
        next = n;
        break;
      }
      if (n > acknowledged + 2)
        break;
      const auto [x, y] = areaOf(n);
      for (int row = 0; row < edge; ++row)
        std::fill_n(model.begin() + (y + row) * side + x, edge, CORBA::Octet(n % 250 + 1));
    }
    ASSERT_TRUE(matched) << "round " << round << ": not the map of write " << acknowledged.load() << " or later";
    acknowledgedModel = served;
    for (const std::string& name : folder.entries())
      EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name << " left from the killed writer";
    EXPECT_TRUE(exitedCleanly(restarted.process->stop(SIGTERM, 20s))) << restarted.process->errorOutput();
  }
}
