// Same-host clients over the component's Unix-domain socket: who can
// connect, what a killed instance leaves behind, and replies sent straight
// from the stored map while it is being replaced.
#include "GridMapClient.h"
#include "KorventMapTool.h"
#include "KorventProcess.h"
#include "RawGiop.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
  // Sockets of the component in `folder`: the listening one and each
  // accepted connection show its path in the kernel's table.
  struct SocketsAt
  {
    int listening = 0;
    int connected = 0;
  };

  SocketsAt socketsAt(const std::string& folder)
  {
    SocketsAt found;
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line);  // column names
    while (std::getline(table, line)) {
      const std::size_t path = line.find(' ' + folder + '/');
      if (path == std::string::npos)
        continue;
      // Num RefCount Protocol Flags Type St Inode Path: St 01 unconnected, 03
      // connected; a connection shows the path on the accepting side only.
      std::istringstream fields(line);
      std::string num, refs, protocol, flags, type, state;
      fields >> num >> refs >> protocol >> flags >> type >> state;
      found.listening += flags == "00010000";
      found.connected += state == "03";
    }
    return found;
  }

  std::vector<std::string> localFolderArgs(const TemporaryFolder& folder)
  {
    return {"-o", "corba.local.folder:" + folder / "sockets"};
  }

  mode_t modeOf(const std::string& path)
  {
    struct stat info{};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  // Cells that tell which map they belong to: cell i of map v is (v + i) mod 251.
  std::vector<CORBA::Octet> versionedCells(std::size_t bytes, unsigned version)
  {
    std::vector<CORBA::Octet> cells(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
      cells[i] = static_cast<CORBA::Octet>((version + i) % 251);
    return cells;
  }

  // Whether `cells` are one whole map of versionedCells.
  bool oneVersion(const char* cells, std::size_t bytes)
  {
    const unsigned version = static_cast<uint8_t>(cells[0]);
    for (std::size_t i = 0; i < bytes; ++i)
      if (static_cast<uint8_t>(cells[i]) != (version + i) % 251)
        return false;
    return true;
  }
}

TEST(LocalSocket, SameHostClientsConnectThroughItAndOnlyTheOwnerMayUseIt)
{
  TemporaryFolder folder;
  RunningKorvent korvent(localFolderArgs(folder));
  const std::string sockets = folder / "sockets";

  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  korvent.service->getGridMap(width, height, map);
  const SocketsAt seen = socketsAt(sockets);
  EXPECT_EQ(1, seen.listening);
  EXPECT_GE(seen.connected, 1) << "the test's own calls went over TCP";

  // Never open to the world, whatever the ORB's own default.
  EXPECT_EQ(0700u, modeOf(sockets) & 0777);
  const std::vector<std::string> files = TemporaryFolder::entriesOf(sockets);
  ASSERT_EQ(1u, files.size());
  EXPECT_EQ(0u, modeOf(sockets + "/" + files[0]) & 0077);

  // korvent-map on this host takes the socket too.
  CORBA::String_var component = clientOrb()->object_to_string(korvent.rtc);
  const ToolOutcome tool = runKorventMapWith({"--ior", component.in(), "-ORBtraceLevel", "25", "info"});
  EXPECT_TRUE(tool.succeeded()) << tool.err;
  EXPECT_NE(std::string::npos, tool.err.find("giop:unix:" + sockets)) << tool.err;
  EXPECT_EQ(std::string::npos, tool.err.find("connect to giop:tcp:")) << tool.err;
}

TEST(LocalSocket, AnotherLocalUserIsRefusedByThePermissions)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "running a client as another user needs root";
  TemporaryFolder folder;
  chmod(folder.path().c_str(), 0755);  // so that only the socket's own folder keeps the other user out
  RunningKorvent korvent(localFolderArgs(folder));
  CORBA::String_var component = clientOrb()->object_to_string(korvent.rtc);
  // Only the local socket, so that TCP cannot stand in for it.
  const std::vector<std::string> args{"--ior", component.in(), "-ORBclientTransportRule", "* unix", "info"};

  EXPECT_TRUE(runKorventMapWith(args).succeeded());
  const ToolOutcome other = runKorventMapAsNobody(args, folder);
  EXPECT_TRUE(other.failedWithOneLine()) << other.err;
}

TEST(LocalSocket, ASocketLeftByAKilledInstanceDoesNotStopTheNextStart)
{
  TemporaryFolder folder;
  const std::string sockets = folder / "sockets";
  std::vector<std::string> left;
  {
    RunningKorvent killed(localFolderArgs(folder));
    left = TemporaryFolder::entriesOf(sockets);
    killed.process->stop(SIGKILL, 20s);
  }
  ASSERT_EQ(1u, left.size());
  ASSERT_TRUE(std::filesystem::exists(sockets + "/" + left[0]));

  RunningKorvent next(localFolderArgs(folder));
  next.service->setGridMap(2, 1, makeMap({7, 8}));
  EXPECT_FALSE(std::filesystem::exists(sockets + "/" + left[0])) << "the dead socket was kept";
  EXPECT_EQ(1u, TemporaryFolder::entriesOf(sockets).size());
  EXPECT_GE(socketsAt(sockets).connected, 1);
}

TEST(LocalSocket, AReplyBeingSentKeepsItsMapWhileTheMapIsReplaced)
{
  TemporaryFolder folder;
  // Slow builds (sanitizers) must not have the component give up on the
  // stalled reply before the test reads it.
  std::vector<std::string> args = localFolderArgs(folder);
  args.insert(args.end(), {"-o", "corba.request_timeout:900", "-o", "corba.reply.grace:900"});
  RunningKorvent korvent(args);
  constexpr std::size_t bytes = 16 << 20;  // far more than the socket buffers hold
  korvent.service->setGridMap(-1, -1, makeMap(versionedCells(bytes, 0)));

  // A reader that does not read yet: the component is held half way
  // through sending the reply from the stored map.
  const IiopAddress address = iiopAddressOf(korvent.serviceIor);
  const int slow = connectTcp(address.host, address.port);
  ASSERT_GE(slow, 0);
  ASSERT_TRUE(sendAll(slow, getGridMapRequest(address.objectKey, 1)));
  ASSERT_TRUE(waitFor([&] { return pendingBytes(slow) > 0; }, 60s));

  // A map released too early would be the spare that the second of these
  // is written into.
  for (unsigned version = 1; version <= 2; ++version)
    korvent.service->setGridMap(-1, -1, makeMap(versionedCells(bytes, version)));
  RTC::TimedOctetSeq map;
  CORBA::Short width = 0, height = 0;
  korvent.service->getGridMap(width, height, map);
  ASSERT_EQ(bytes, map.data.length());
  EXPECT_EQ(2, map.data[0]);
  EXPECT_TRUE(oneVersion(reinterpret_cast<const char*>(map.data.get_buffer()), bytes));

  const std::string body = readGiopMessageBody(slow, 600s);
  close(slow);
  ASSERT_GE(body.size(), bytes);
  const char* cells = body.data() + body.size() - bytes;
  EXPECT_EQ(0, cells[0]) << "the slow reader got a later map than the one stored when it asked";
  EXPECT_TRUE(oneVersion(cells, bytes));
}

TEST(LocalSocket, AReaderThatStopsReadingIsDroppedAfterTheGrace)
{
  TemporaryFolder folder;
  std::vector<std::string> args = localFolderArgs(folder);
  args.insert(args.end(), {"-o", "corba.reply.grace:1"});
  RunningKorvent korvent(args);
  korvent.service->setGridMap(-1, -1, makeMap(std::vector<CORBA::Octet>(16u << 20, 3)));
  const std::string sockets = folder / "sockets";
  const int slow = connectUnix(sockets + "/" + TemporaryFolder::entriesOf(sockets).at(0));
  ASSERT_GE(slow, 0);
  ASSERT_TRUE(sendAll(slow, getGridMapRequest(iiopAddressOf(korvent.serviceIor).objectKey, 1)));
  ASSERT_TRUE(waitFor([&] { return pendingBytes(slow) > 0; }, 20s));
  EXPECT_TRUE(waitFor([&] { return korvent.process->errorOutput().find("dropped a reply") != std::string::npos; },
                      30s))
    << korvent.process->errorOutput();
  EXPECT_TRUE(closedByPeer(slow, 20s));
  close(slow);
}
