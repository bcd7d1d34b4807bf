#include "platform/posix/samba/smb_wire.h"

#include <gtest/gtest.h>

// Byte tables are laid out sixteen bytes a row, as a wire dump reads.
// clang-format off

namespace quorvex::samba {
namespace {

std::uint64_t Field(const WireBytes& bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes.at(offset + i - 1);
  return value;
}

TEST(SmbWireTest, SharePaths) {
  struct Case {
    const char* Unc;
    const char* Server;  // null: rejected
    const char* Share;
    std::u16string Path;
  };
  const Case cases[] = {
      {"\\\\QVXHOST\\admin$\\System32", "QVXHOST", "admin$", u"System32"},
      {"\\\\QVXHOST\\admin$\\", "QVXHOST", "admin$", u""},
      {"\\\\10.97.0.1\\admin$\\a\\b", "10.97.0.1", "admin$", u"a\\b"},
      // Code page 437 in: UTF-8 for the share, UTF-16 for the path.
      {"\\\\HOST\\sh\x8E\\\x94l", "HOST", "sh\xC3\x84", u"\u00F6l"},
      {"\\\\HOST", nullptr, nullptr, u""},
      {"\\\\HOST\\", nullptr, nullptr, u""},
      {"\\\\HOST\\\\share", nullptr, nullptr, u""},
      {"HOST\\share", nullptr, nullptr, u""},
  };
  for (const Case& c : cases) {
    std::optional<SharePath> path = SharePathOf(c.Unc);
    if (c.Server == nullptr) {
      EXPECT_FALSE(path.has_value()) << c.Unc;
      continue;
    }
    ASSERT_TRUE(path.has_value()) << c.Unc;
    EXPECT_EQ(path->Server, c.Server) << c.Unc;
    EXPECT_EQ(path->Share, c.Share) << c.Unc;
    EXPECT_TRUE(path->Path == c.Path) << c.Unc;
  }
}

TEST(SmbWireTest, CreateNamesAreUtf16AndNeverEmpty) {
  struct Case {
    std::u16string Path;
    WireBytes Bytes;
  };
  const Case cases[] = {
      {u"", {0}},
      {u"A", {'A', 0}},
      {u"a\\b", {'a', 0, '\\', 0, 'b', 0}},
      {u"\u00C4", {0xC4, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(CreateName(c.Path), c.Bytes);
}

// Each fixed part: its size, the structure size the protocol gives it, and
// the fields a server reads to find the name or the handle.
TEST(SmbWireTest, RequestBodies) {
  struct Field32 {
    std::size_t Offset, Width;
    std::uint64_t Value;
  };
  struct Case {
    const char* Name;
    WireBytes Body;
    std::size_t Size;
    std::vector<Field32> Fields;
  };
  const std::uint64_t Related = ~std::uint64_t{0};
  const Case cases[] = {
      {"create System32", CreateBody(ReadAttributesAccess, 16), 56,
       {{0, 2, 57}, {4, 4, 2}, {24, 4, 0x80}, {32, 4, 7}, {36, 4, 1}, {40, 4, 0}, {44, 2, 120}, {46, 2, 16},
        {48, 4, 0}, {52, 4, 0}}},
      {"create root", CreateBody(ReadAttributesAccess, 0), 56, {{44, 2, 120}, {46, 2, 0}}},
      {"query free space", QueryFsFullSizeBody(), 40,
       {{0, 2, 41}, {2, 1, 2}, {3, 1, 7}, {4, 4, 32}, {8, 2, 0}, {12, 4, 0}, {24, 8, Related}, {32, 8, Related}}},
      {"close", CloseRelatedBody(), 24, {{0, 2, 24}, {2, 2, 0}, {8, 8, Related}, {16, 8, Related}}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.Body.size(), c.Size) << c.Name;
    for (const Field32& f : c.Fields) {
      EXPECT_EQ(Field(c.Body, f.Offset, f.Width), f.Value) << c.Name << " at " << f.Offset;
    }
  }
}

TEST(SmbWireTest, FsFullSizeReplies) {
  struct Case {
    const char* Name;
    WireBytes Reply;
    std::optional<DiskFreeSpace> Space;
  };
  // total 5120 units, 2047 for the caller, 4000 free in all, 8 x 512 bytes.
  const WireBytes tmpfs = {0x00, 0x14, 0, 0, 0, 0, 0, 0, 0xFF, 0x07, 0, 0, 0, 0, 0, 0,
                           0xA0, 0x0F, 0, 0, 0, 0, 0, 0, 8,    0,    0, 0, 0, 2, 0, 0};
  WireBytes huge(32, 0xFF);
  WireBytes longer = tmpfs;
  longer.push_back(0xEE);
  const Case cases[] = {
      {"caller's units, not all free ones", tmpfs, DiskFreeSpace{8, 512, 2047, 5120}},
      {"64-bit counters stay whole", huge,
       DiskFreeSpace{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF}},
      {"trailing bytes ignored", longer, DiskFreeSpace{8, 512, 2047, 5120}},
      {"short", WireBytes(tmpfs.begin(), tmpfs.end() - 1), std::nullopt},
      {"empty", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<DiskFreeSpace> space = DecodeFsFullSize(c.Reply.data(), c.Reply.size());
    ASSERT_EQ(space.has_value(), c.Space.has_value()) << c.Name;
    if (!space) continue;
    EXPECT_EQ(space->SectorsPerCluster, c.Space->SectorsPerCluster) << c.Name;
    EXPECT_EQ(space->BytesPerSector, c.Space->BytesPerSector) << c.Name;
    EXPECT_EQ(space->FreeClusters, c.Space->FreeClusters) << c.Name;
    EXPECT_EQ(space->TotalClusters, c.Space->TotalClusters) << c.Name;
  }
}

// clang-format on
}  // namespace
}  // namespace quorvex::samba
