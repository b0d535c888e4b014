// A map of about 283 MB through korvent-map and a real KorventComp, with the
// configuration docs/large-maps.md gives.
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "NameServer.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  constexpr short width = 20800;
  constexpr short height = 13600;
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

TEST(KorventMapLarge, MapOf283MBRoundTripsByteForByte)
{
  TemporaryFolder folder;
  writeMap(folder / "large.raw");
  NameServer names;
  names.start();
  std::unique_ptr<ChildProcess> component = startKorventComp(
    names.address(), {"-o", "corba.args:-ORBgiopMaxMsgSize 300000000", "-o", "corba.request_timeout:600"});
  ASSERT_TRUE(waitFor([&] { return korventBound(names); }, 20s)) << component->errorOutput();

  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const ToolOutcome set =
    runKorventMap(names.address(), {"--max-message", "300000000", "--timeout", "60", "set", "--size", size,
                                    folder / "large.raw"});
  ASSERT_TRUE(set.succeeded()) << set.err;
  EXPECT_EQ(set.out, "stored 20800 x 13600, " + std::to_string(cellCount) + " bytes from " + (folder / "large.raw") + "\n");
  const ToolOutcome get =
    runKorventMap(names.address(), {"--max-message", "300000000", "--timeout", "60", "get", folder / "back.raw"});
  ASSERT_TRUE(get.succeeded()) << get.err;
  EXPECT_TRUE(sameContent(folder / "back.raw", folder / "large.raw"));
  // The tool's own transfer report, for the log.
  std::cout << set.err << get.err;

  // Without the larger limit on the tool's side, one line says what to raise.
  const ToolOutcome tooLarge = runKorventMap(names.address(), {"set", "--size", size, folder / "large.raw"});
  EXPECT_TRUE(tooLarge.failedWithOneLine()) << tooLarge.err;
  EXPECT_NE(tooLarge.err.find("--max-message"), std::string::npos) << tooLarge.err;

  std::optional<int> status = component->stop(SIGTERM, 60s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << component->errorOutput();
}
