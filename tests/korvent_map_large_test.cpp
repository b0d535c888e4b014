// The largest map the contract allows, 32767 x 32767 (1 GiB), through
// korvent-map and a real KorventComp with their default settings and a
// durable map: stored, fetched whole, read at its far corner, written there,
// described, and served again after a restart, within 2.5 times its size
// of memory.
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  constexpr short width = 32767;
  constexpr short height = 32767;
  constexpr std::size_t cellCount = std::size_t(width) * height;

  // Free space, walls every so often and noise, written row by row.
  void writeMap(const std::string& path)
  {
    std::ofstream out(path, std::ios::binary);
    std::string row(width, '\0');
    std::uint32_t noise = 12345;
    for (short y = 0; y < height; ++y) {
      for (short x = 0; x < width; ++x) {
        noise = noise * 1664525u + 1013904223u;
        row[x] = static_cast<char>(x % 211 == 0 || y % 173 == 0 ? 100 : (noise >> 24) < 8 ? 255 : 0);
      }
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    ASSERT_TRUE(out.flush()) << path;
  }

  // Compared a piece at a time: the two files need not both be in memory.
  bool sameContent(const std::string& a, const std::string& b)
  {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    std::string leftPiece(1 << 20, '\0'), rightPiece(1 << 20, '\0');
    while (left && right) {
      left.read(leftPiece.data(), static_cast<std::streamsize>(leftPiece.size()));
      right.read(rightPiece.data(), static_cast<std::streamsize>(rightPiece.size()));
      if (left.gcount() != right.gcount() ||
          leftPiece.compare(0, left.gcount(), rightPiece, 0, right.gcount()) != 0)
        return false;
    }
    return left.eof() && right.eof();
  }
}

TEST(KorventMapLarge, LargestMapWorksWithTheDefaults)
{
  TemporaryFolder folder;
  writeMap(folder / "large.raw");
  NameServer names;
  names.start();
  // No limit of the test's own: what a user gets out of the box.
  const std::vector<std::string> settings{"-o", "corba.args:", "-o", "korvent.map.store:" + folder / "map.store"};
  std::unique_ptr<ChildProcess> component = startKorventComp(names.address(), settings);
  ASSERT_TRUE(waitFor([&] { return korventBound(names); }, 20s)) << component->errorOutput();
  auto peakKiB = [&] { return procStatus(component->pid(), "VmHWM"); };

  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const ToolOutcome set = runKorventMap(names.address(), {"set", "--size", size, folder / "large.raw"});
  ASSERT_TRUE(set.succeeded()) << set.err;
  EXPECT_EQ(set.out, "stored 32767 x 32767, " + std::to_string(cellCount) + " bytes from " + (folder / "large.raw") + "\n");
  const ToolOutcome get = runKorventMap(names.address(), {"get", folder / "back.raw"});
  ASSERT_TRUE(get.succeeded()) << get.err;
  EXPECT_TRUE(sameContent(folder / "back.raw", folder / "large.raw"));
  std::filesystem::remove(folder / "back.raw");
  // The tool's own transfer report, for the log.
  std::cout << set.err << get.err;

  // The far corner, read and written through the region service.
  const std::string at = std::to_string(width - 2) + "," + std::to_string(height - 2);
  const std::string corner = at + ",2,2";
  writeFile(folder / "corner.raw", std::string(4, '\x42'));
  const ToolOutcome write = runKorventMap(names.address(), {"set", "--at", at, "--size", "2x2", folder / "corner.raw"});
  EXPECT_TRUE(write.succeeded()) << write.err;
  const ToolOutcome read = runKorventMap(names.address(), {"get", "--region", corner, folder / "back.raw"});
  ASSERT_TRUE(read.succeeded()) << read.err;
  EXPECT_EQ(std::string(4, '\x42'), fileContent(folder / "back.raw"));
  const ToolOutcome info = runKorventMap(names.address(), {"info"});
  EXPECT_TRUE(info.succeeded()) << info.err;
  EXPECT_NE(info.out.find("bytes       " + std::to_string(cellCount)), std::string::npos) << info.out;
  const long peak = peakKiB();
  std::cout << "component's peak RSS " << peak / 1024 << " MiB for a map of " << (cellCount >> 20) << " MiB"
            << std::endl;
  EXPECT_LE(static_cast<double>(peak) * 1024, 2.5 * cellCount);

  // Served again, corner included, from the durable map after a restart.
  std::optional<int> status = component->stop(SIGTERM, 120s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component->errorOutput();
  component = startKorventComp(names.address(), settings);
  ASSERT_TRUE(waitFor([&] { return korventBound(names); }, 120s)) << component->errorOutput();
  const ToolOutcome again = runKorventMap(names.address(), {"get", "--region", corner, folder / "again.raw"});
  ASSERT_TRUE(again.succeeded()) << again.err;
  EXPECT_EQ(std::string(4, '\x42'), fileContent(folder / "again.raw"));

  // Below the map's size on the tool's side, one line says what to raise.
  const ToolOutcome tooLarge =
    runKorventMap(names.address(), {"--max-message", "268435456", "set", "--size", size, folder / "large.raw"});
  EXPECT_TRUE(tooLarge.failedWithOneLine()) << tooLarge.err;
  EXPECT_NE(tooLarge.err.find("--max-message"), std::string::npos) << tooLarge.err;

  status = component->stop(SIGTERM, 120s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component->errorOutput();
}
