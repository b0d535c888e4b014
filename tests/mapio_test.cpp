// The map file library on its own: formats, conversion, store file, atomic
// writes.
#include "TemporaryFolder.h"

#include "mapio/AtomicFile.h"
#include "mapio/Checksum.h"
#include "mapio/FileBytes.h"
#include "mapio/MapError.h"
#include "mapio/MapFile.h"
#include "mapio/OccupancyCodec.h"
#include "mapio/PgmImage.h"
#include "mapio/PngImage.h"
#include "mapio/StoreFile.h"

#include <png.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mapio;

namespace
{
  GridMap gridOf(short width, short height, const std::string& cells)
  {
    GridMap map;
    map.width = width;
    map.height = height;
    map.cells = cells;
    return map;
  }

  // Every octet value once, as a 16 x 16 image.
  GridMap everyValue()
  {
    std::string cells;
    for (int v = 0; v < 256; ++v)
      cells.push_back(static_cast<char>(v));
    return gridOf(16, 16, cells);
  }

  // A PNG of another kind than ours, written with libpng's own writer.
  void writeOtherPng(const std::string& path, png_uint_32 format, const void* pixels)
  {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 2;
    image.format = format;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr)) << image.message;
  }

  std::string errorOf(const std::function<void()>& action)
  {
    try {
      action();
    }
    catch (const MapError& error) {
      return error.what();
    }
    return "(no error)";
  }
}

TEST(PgmFormat, ReadsBinaryAndPlainWithComments)
{
  const std::string binary = std::string("P5\n# made by hand\n3 2\n255\n") + std::string("\x00\x80\xff\x01\x02\x03", 6);
  const GridMap fromBinary = decodePgm(binary, "b.pgm");
  EXPECT_EQ(fromBinary.width, 3);
  EXPECT_EQ(fromBinary.height, 2);
  EXPECT_EQ(fromBinary.cells, std::string("\x00\x80\xff\x01\x02\x03", 6));

  const GridMap fromPlain = decodePgm("P2 3 2 # comment\n255\n0 128 255\n1 2 3\n", "p.pgm");
  EXPECT_EQ(fromPlain.cells, fromBinary.cells);
}

TEST(PgmFormat, WritesWhatItReadsByteForByte)
{
  const std::string encoded = encodePgm(everyValue());
  EXPECT_EQ(encoded.substr(0, 13), "P5\n16 16\n255\n");
  EXPECT_EQ(encodePgm(decodePgm(encoded, "x.pgm")), encoded);
}

TEST(PgmFormat, RefusesWhatItCannotReadWithOneLine)
{
  EXPECT_EQ(errorOf([] { decodePgm("P5\n3 2\n255\nabc", "t.pgm"); }),
            "truncated PGM: 6 pixels expected, 3 present (t.pgm)");
  EXPECT_EQ(errorOf([] { decodePgm("P5\n3 2\n65535\n", "d.pgm"); }),
            "unsupported PGM: maximum value over 255 (d.pgm)");
  EXPECT_EQ(errorOf([] { decodePgm("P6\n3 2\n255\n", "c.pgm"); }),
            "not a PGM file (no P5 or P2 magic number) (c.pgm)");
  EXPECT_EQ(errorOf([] { decodePgm("P5\n40000 2\n255\n", "w.pgm"); }),
            "unsupported PGM: width over 32767 (w.pgm)");
  EXPECT_EQ(errorOf([] { decodePgm("P2\n2 1\n10\n3 11\n", "m.pgm"); }),
            "unsupported PGM: pixel over 10 (m.pgm)");
  EXPECT_EQ(errorOf([] { decodePgm("P5\nx 2\n255\n", "n.pgm"); }),
            "malformed PGM: width is not a number (n.pgm)");
  // Refused before a gibibyte of cells is allocated for 19 bytes.
  EXPECT_EQ(errorOf([] { decodePgm("P2 32767 32767 1 0", "p.pgm"); }),
            "truncated PGM: 1073676289 pixels expected, room for 1 left (p.pgm)");
}

TEST(PngFormat, RoundTripsEveryGreyValue)
{
  TemporaryFolder folder;
  writeFile(folder / "a.png", encodePng(everyValue(), "a.png"));
  const GridMap read = readPng(folder / "a.png");
  EXPECT_EQ(read.width, 16);
  EXPECT_EQ(read.height, 16);
  EXPECT_EQ(read.cells, everyValue().cells);
}

TEST(PngFormat, RefusesOtherDepthsAndColoursAndGarbage)
{
  TemporaryFolder folder;
  const std::uint16_t deep[4] = {0, 1000, 20000, 65535};
  writeOtherPng(folder / "deep.png", PNG_FORMAT_LINEAR_Y, deep);
  EXPECT_EQ(errorOf([&] { readPng(folder / "deep.png"); }),
            "unsupported PNG: 16-bit greyscale; only 8-bit greyscale without alpha is read (" +
              (folder / "deep.png") + ")");
  const unsigned char rgb[12] = {};
  writeOtherPng(folder / "rgb.png", PNG_FORMAT_RGB, rgb);
  EXPECT_NE(errorOf([&] { readPng(folder / "rgb.png"); }).find("unsupported PNG: 8-bit RGB"), std::string::npos);

  writeFile(folder / "bad.png", "\x89PNG\r\n\x1a\nnot really");
  EXPECT_NE(errorOf([&] { readPng(folder / "bad.png"); }).find("not a readable PNG"), std::string::npos);
  EXPECT_NE(errorOf([&] { readPng(folder / "none.png"); }).find("cannot read: No such file"), std::string::npos);

  // A header that declares a gibibyte of pixels and no image data: refused
  // before the pixels are allocated.
  std::string header("IHDR\0\0\x7f\xff\0\0\x7f\xff\x08\0\0\0\0", 17);
  const std::uint32_t crc = crc32Of(header.data(), header.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    header.push_back(static_cast<char>((crc >> shift) & 0xff));
  const std::string huge = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12) + header + std::string("\0\0\0\0IDAT", 8);
  EXPECT_EQ(errorOf([&] { decodePng(huge, "h.png"); }), "not a readable PNG: image data ends early (h.png)");
}

TEST(MapYamlFormat, ReadsKeysDefaultsAndImagePath)
{
  TemporaryFolder folder;
  writeFile(folder / "m.yaml", "image: img/m.pgm\nresolution: 0.1\norigin: [1.5, -2, 0.25]\nnegate: 1\n");
  const MapMetadata metadata = readMapYaml(folder / "m.yaml");
  EXPECT_EQ(metadata.image, "img/m.pgm");
  EXPECT_DOUBLE_EQ(metadata.resolution, 0.1);
  EXPECT_DOUBLE_EQ(metadata.origin[1], -2.0);
  EXPECT_TRUE(metadata.negate);
  EXPECT_DOUBLE_EQ(metadata.occupiedThreshold, 0.65);
  EXPECT_DOUBLE_EQ(metadata.freeThreshold, 0.196);
  EXPECT_EQ(metadata.mode, OccupancyMode::Trinary);
  EXPECT_EQ(imagePathOf(metadata, folder / "m.yaml"), folder / "img/m.pgm");
  EXPECT_EQ(readMapYaml(folder / "m.yaml").image, metadata.image);

  MapMetadata written;
  written.image = "w.pgm";
  written.mode = OccupancyMode::Scale;
  written.origin = {1.0, 2.0, 0.5};
  writeFile(folder / "w.yaml", encodeMapYaml(written));
  const MapMetadata reread = readMapYaml(folder / "w.yaml");
  EXPECT_EQ(reread.mode, OccupancyMode::Scale);
  EXPECT_DOUBLE_EQ(reread.origin[2], 0.5);
  EXPECT_DOUBLE_EQ(reread.resolution, written.resolution);
  written.image = "caf\xc3\xa9.pgm";  // UTF-8 is kept; other bytes would name another file
  EXPECT_EQ(decodeMapYaml(encodeMapYaml(written), "w").image, written.image);
  written.image = "caf\xe9.pgm";
  EXPECT_EQ(errorOf([&] { encodeMapYaml(written); }),
            "a map YAML cannot name an image whose name is not UTF-8 (caf\xe9.pgm)");
}

TEST(MapYamlFormat, RefusesMalformedOrIncompleteFiles)
{
  TemporaryFolder folder;
  const std::string path = folder / "m.yaml";
  writeFile(path, "image: [unclosed\n");
  EXPECT_NE(errorOf([&] { readMapYaml(path); }).find("malformed map YAML at line"), std::string::npos);
  writeFile(path, "resolution: 0.05\norigin: [0, 0, 0]\n");
  EXPECT_EQ(errorOf([&] { readMapYaml(path); }), "map YAML lacks the key 'image' (" + path + ")");
  writeFile(path, "image: a.pgm\nresolution: fine\norigin: [0, 0, 0]\n");
  EXPECT_EQ(errorOf([&] { readMapYaml(path); }), "map YAML: 'resolution' has a value of the wrong kind (" + path + ")");
  writeFile(path, "image: a.pgm\nresolution: 0.05\norigin: [0, 0]\n");
  EXPECT_NE(errorOf([&] { readMapYaml(path); }).find("three numbers"), std::string::npos);
  writeFile(path, "image: a.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nfree_thresh: 0.7\n");
  EXPECT_NE(errorOf([&] { readMapYaml(path); }).find("free_thresh < occupied_thresh"), std::string::npos);
  writeFile(path, "image: a.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nmode: fancy\n");
  EXPECT_NE(errorOf([&] { readMapYaml(path); }).find("unknown mode 'fancy'"), std::string::npos);
  // After a NUL byte the parser quotes the line break it trips on.
  EXPECT_EQ(errorOf([&] { decodeMapYaml(std::string("a: b\0\nc: d\n", 11), "m\x01.yaml"); }),
            "malformed map YAML at line 2: unknown escape character: \\n (m\\x01.yaml)");
}

TEST(Occupancy, TrinaryFollowsThresholdsAndNegate)
{
  MapMetadata metadata;
  const OccupancyCodec plain(metadata);
  EXPECT_EQ(plain.occupancyOf(254), 0);     // white: free
  EXPECT_EQ(plain.occupancyOf(0), 100);     // black: occupied
  EXPECT_EQ(plain.occupancyOf(205), 255);   // grey: unknown
  EXPECT_EQ(plain.greyOf(0), 254);
  EXPECT_EQ(plain.greyOf(100), 0);
  EXPECT_EQ(plain.greyOf(255), 205);

  metadata.negate = true;
  const OccupancyCodec negated(metadata);
  EXPECT_EQ(negated.occupancyOf(0), 0);
  EXPECT_EQ(negated.occupancyOf(255), 100);
  for (unsigned cell : {0u, 100u, 255u})
    EXPECT_EQ(negated.occupancyOf(negated.greyOf(static_cast<unsigned char>(cell))), cell);
}

TEST(Occupancy, ScaleIsLinearBetweenThresholdsAndRawIsIdentity)
{
  MapMetadata metadata;
  metadata.mode = OccupancyMode::Scale;
  const OccupancyCodec scale(metadata);
  EXPECT_EQ(scale.occupancyOf(255), 0);
  EXPECT_EQ(scale.occupancyOf(0), 100);
  int previous = 0;
  for (int grey = 255; grey >= 0; --grey) {
    const int cell = scale.occupancyOf(static_cast<unsigned char>(grey));
    EXPECT_GE(cell, previous) << "grey " << grey;
    previous = cell;
  }
  metadata.mode = OccupancyMode::Raw;
  const OccupancyCodec raw(metadata);
  for (unsigned v = 0; v < 256; ++v) {
    EXPECT_EQ(raw.occupancyOf(static_cast<unsigned char>(v)), v);
    EXPECT_EQ(raw.greyOf(static_cast<unsigned char>(v)), v);
  }
}

TEST(Occupancy, ConvertsWholeMapsBottomRowFirstAndCountsApproximations)
{
  const OccupancyCodec codec{MapMetadata{}};
  // Top row: white, black; bottom row: unknown grey, white.
  const GridMap image = gridOf(2, 2, std::string("\xfe\x00\xcd\xfe", 4));
  const GridMap grid = codec.toOccupancy(image);
  EXPECT_EQ(grid.cells, std::string("\xff\x00\x00\x64", 4));
  std::size_t approximated = 99;
  EXPECT_EQ(codec.toImage(grid, approximated).cells, image.cells);
  EXPECT_EQ(approximated, 0u);

  const GridMap odd = gridOf(2, 1, std::string("\x1e\x00", 2));  // 30 is not trinary
  const GridMap back = codec.toImage(odd, approximated);
  EXPECT_EQ(approximated, 1u);
  EXPECT_EQ(codec.occupancyOf(static_cast<unsigned char>(back.cells[0])), 0);  // nearest: free
}

TEST(StoreFile, RoundTripsAnyMapIncludingNegativeSizes)
{
  TemporaryFolder folder;
  const std::string path = folder / "store";
  EXPECT_FALSE(readStoreFile(path).has_value());
  const GridMap odd = gridOf(-32768, 32767, std::string("\x00\x01\xff", 3));
  writeStoreFile(path, odd.width, odd.height, odd.cells, 0x123456789aULL);
  const std::optional<StoredMap> read = readStoreFile(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->width, -32768);
  EXPECT_EQ(read->height, 32767);
  EXPECT_EQ(read->cells, odd.cells);
  EXPECT_EQ(read->version, 0x123456789aULL);
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"store"});
}

TEST(StoreFile, ReadsTheFirstFormatAsVersionOneOfTheMap)
{
  // Format 1 as earlier releases wrote it: 28-byte header, no map version.
  std::string bytes("KVNTMAP\0", 8);
  bytes += std::string("\x01\x00\x00\x00" "\x02\x00\x01\x00" "\x02\x00\x00\x00\x00\x00\x00\x00", 16);
  const std::uint32_t crc = crc32Of("ab", 2, crc32Of(bytes.data() + 8, 16));
  for (int i = 0; i < 4; ++i)
    bytes.push_back(static_cast<char>((crc >> (8 * i)) & 0xff));
  bytes += "ab";
  const StoredMap map = decodeStoreFile(bytes, "old");
  EXPECT_EQ(map.width, 2);
  EXPECT_EQ(map.height, 1);
  EXPECT_EQ(map.cells, "ab");
  EXPECT_EQ(map.version, 1u);
  bytes[29] ^= 1;  // a cell
  EXPECT_EQ(errorOf([&] { decodeStoreFile(bytes, "old"); }), "map store file is corrupt: checksum mismatch (old)");
}

TEST(StoreFile, KeepsTheDescriptionAfterTheCellsAndRefusesAnyDamageToIt)
{
  TemporaryFolder folder;
  const std::string path = folder / "store";
  StoredDescription stored;
  stored.description.resolution = 0.025;
  stored.description.origin = {-12.5, 3.0, -0.1};
  stored.description.frame = "warehouse";
  stored.description.mode = OccupancyMode::Scale;
  stored.description.negate = true;
  stored.description.text = "second floor";
  stored.confirmed = false;
  writeStoreFile(path, 2, 1, "ab", 9, &stored);
  const StoredMap read = *readStoreFile(path);
  EXPECT_EQ(read.cells, "ab");
  EXPECT_EQ(read.version, 9u);
  ASSERT_TRUE(read.description.has_value());
  EXPECT_EQ(read.description->description, stored.description);
  EXPECT_FALSE(read.description->confirmed);

  // Without one, as every earlier file: no description.
  writeStoreFile(path, 2, 1, "ab", 9);
  const std::size_t cellsEnd = fileContent(path).size();
  EXPECT_FALSE(readStoreFile(path)->description.has_value());

  writeStoreFile(path, 2, 1, "ab", 9, &stored);
  const std::string good = fileContent(path);
  for (std::size_t length = cellsEnd + 1; length < good.size(); ++length)
    EXPECT_NE(errorOf([&] { decodeStoreFile(good.substr(0, length), "cut"); }).find("corrupt"), std::string::npos)
      << length;
  for (std::size_t at = cellsEnd; at < good.size(); ++at)
    for (int bit = 0; bit < 8; ++bit) {
      std::string flipped = good;
      flipped[at] ^= static_cast<char>(1 << bit);
      EXPECT_NE(errorOf([&] { decodeStoreFile(flipped, "flip"); }).find("corrupt"), std::string::npos)
        << at << " bit " << bit;
    }
}

TEST(StoreFile, RefusesTruncatedCorruptAndForeignFiles)
{
  TemporaryFolder folder;
  const std::string path = folder / "store";
  writeStoreFile(path, 16, 16, everyValue().cells, 7);
  const std::string good = fileContent(path);
  ASSERT_EQ(good.size(), 36u + 256u);

  writeFile(path, good.substr(0, good.size() - 1));
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "map store file is truncated: 255 of 256 cells present (" + path + ")");
  writeFile(path, good.substr(0, 30));
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "map store file is truncated: header incomplete (" + path + ")");
  std::string flipped = good;
  flipped[100] ^= 0x01;
  writeFile(path, flipped);
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "map store file is corrupt: checksum mismatch (" + path + ")");
  std::string widened = good;
  widened[12] ^= 0x01;  // width: covered by the checksum too
  writeFile(path, widened);
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "map store file is corrupt: checksum mismatch (" + path + ")");
  std::string renumbered = good;
  renumbered[24] ^= 0x01;  // and so is the map version
  writeFile(path, renumbered);
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "map store file is corrupt: checksum mismatch (" + path + ")");
  writeFile(path, "P5\n1 1\n255\n\x00");
  EXPECT_EQ(errorOf([&] { readStoreFile(path); }), "not a map store file (wrong magic number) (" + path + ")");
}

TEST(StoreFile, EveryTruncationAndEveryFlippedHeaderBitIsRefusedWithOneLine)
{
  TemporaryFolder folder;
  const std::string path = folder / "store";
  writeStoreFile(path, 16, 16, everyValue().cells, 5);
  const std::string good = fileContent(path);
  ASSERT_EQ(decodeStoreFile(good, "s").cells, everyValue().cells);

  // Nothing but a MapError may leave decodeStoreFile, and no map at all.
  auto refusal = [](const std::string& bytes) { return errorOf([&] { decodeStoreFile(bytes, "s"); }); };
  auto expectRefused = [](const std::string& error, const std::string& start, const std::string& what) {
    EXPECT_EQ(error.rfind(start, 0), 0u) << what << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << what;
    EXPECT_EQ(error.substr(error.size() - 4), " (s)") << what;
  };
  for (std::size_t length = 0; length < good.size(); ++length)
    expectRefused(refusal(good.substr(0, length)),
                  length < 8 ? "not a map store file" : length < 36 ? "map store file is truncated: header incomplete"
                                                                   : "map store file is truncated: ",
                  "cut at " + std::to_string(length));

  for (std::size_t at = 0; at < 36; ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string flipped = good;
      flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
      const std::string error = refusal(flipped);
      const std::string what = "byte " + std::to_string(at) + " bit " + std::to_string(bit);
      if (at < 8)
        expectRefused(error, "not a map store file (wrong magic number)", what);
      else if (at < 12)
        expectRefused(error, "map store file has version ", what);
      else if (at >= 16 && at < 24)  // the cell count: more or fewer than the file holds
        EXPECT_TRUE(error.rfind("map store file is truncated: 256 of ", 0) == 0 ||
                    error.rfind("map store file is corrupt: bytes after the last cell", 0) == 0) << what << ": " << error;
      else  // width, height, the map's version and the checksum itself
        expectRefused(error, "map store file is corrupt: checksum mismatch", what);
    }
  }
}

TEST(AtomicWrites, NothingAppearsUntilCommitAndNothingStaysWithout)
{
  TemporaryFolder folder;
  const std::string path = folder / "out.bin";
  writeFile(path, "old");
  {
    AtomicFile file(path);
    file.write("new", 3);
    EXPECT_EQ(fileContent(path), "old");
  }
  EXPECT_EQ(fileContent(path), "old");
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.bin"});

  writeFileAtomically(path, "new", AtomicFile::Durability::Synced);
  EXPECT_EQ(fileContent(path), "new");
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.bin"});

  EXPECT_NE(errorOf([&] { AtomicFile(folder / "gone/out.bin"); }).find("cannot write: No such file"),
            std::string::npos);
}

TEST(AtomicWrites, StaleTemporariesOfDeadProcessesAreRemoved)
{
  TemporaryFolder folder;
  const std::string path = folder / "out.bin";
  const std::string mine = "out.bin.tmp-" + std::to_string(::getpid()) + "-7";
  writeFile(folder / "out.bin.tmp-999999999-0", "left by a killed writer");  // beyond any pid
  writeFile(folder / mine, "in progress");
  writeFile(folder / "other.bin.tmp-999999999-0", "another file's");
  removeStaleTemporaries(path);
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"other.bin.tmp-999999999-0", mine}));
}

TEST(FileLimits, RefusesFilesOfFourGibibytesBeforeReading)
{
  TemporaryFolder folder;
  const std::string path = folder / "huge.bin";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(fileSizeLimit)), 0);  // sparse: no disk used
  ::close(fd);
  EXPECT_EQ(errorOf([&] { readFileBytes(path); }),
            "file is 4 GiB or larger, more than any map can hold (" + path + ")");
  EXPECT_EQ(errorOf([&] { readRawMap(path, 1, 1, true); }),
            "file is 4 GiB or larger, more than any map can hold (" + path + ")");
}

TEST(MapFiles, WriteByExtensionAndFallBackToRaw)
{
  TemporaryFolder folder;
  const GridMap map = everyValue();
  for (const char* name : {"m.pgm", "m.png", "m.yaml"}) {
    const MapWriteResult result = writeMapFile(folder / name, map, {});
    EXPECT_EQ(result.written, formatOf(name));
    const GridMap read = readMapFile(folder / name, false);
    EXPECT_EQ(read.cells, map.cells) << name;
    EXPECT_EQ(read.width, map.width) << name;
  }
  EXPECT_EQ(readMapYaml(folder / "m.yaml").image, "m.pgm");

  const GridMap mismatched = gridOf(5, 5, "abc");
  EXPECT_EQ(writeMapFile(folder / "x.png", mismatched, {}).written, MapFormat::Raw);
  EXPECT_EQ(fileContent(folder / "x.png"), "abc");
  EXPECT_NE(errorOf([&] { readMapFile(folder / "x.bin", false); }).find("unknown map format"), std::string::npos);
  EXPECT_NE(errorOf([&] { readRawMap(folder / "x.png", 2, 2, false); }).find("3 bytes, not 2 x 2"), std::string::npos);
  EXPECT_EQ(readRawMap(folder / "x.png", 2, 2, true).cells, "abc");
}
