#include "platform/posix/samba/ndr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

// Byte tables are laid out sixteen bytes a row, as a wire dump reads.
// clang-format off

// The reference stubs below were produced by Samba's own marshalling
// (python3-samba, ndr_pack_in / ndr_pack_out) and pasted here, so that the
// encoders and decoders are checked against an independent implementation.

namespace quorvex::samba {
namespace {

const PolicyHandle Key = {0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05,
                          0x08, 0x07, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10};

// OpenKey of SYSTEM\CurrentControlSet\Control\ProductOptions, KEY_READ.
const Bytes OpenProductOptions = {
    0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0a, 0x0b, 0x0c,
    0x0d, 0x0e, 0x0f, 0x10, 0x60, 0x00, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x30, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x53, 0x00, 0x59, 0x00, 0x53, 0x00, 0x54, 0x00,
    0x45, 0x00, 0x4d, 0x00, 0x5c, 0x00, 0x43, 0x00, 0x75, 0x00, 0x72, 0x00, 0x72, 0x00, 0x65, 0x00,
    0x6e, 0x00, 0x74, 0x00, 0x43, 0x00, 0x6f, 0x00, 0x6e, 0x00, 0x74, 0x00, 0x72, 0x00, 0x6f, 0x00,
    0x6c, 0x00, 0x53, 0x00, 0x65, 0x00, 0x74, 0x00, 0x5c, 0x00, 0x43, 0x00, 0x6f, 0x00, 0x6e, 0x00,
    0x74, 0x00, 0x72, 0x00, 0x6f, 0x00, 0x6c, 0x00, 0x5c, 0x00, 0x50, 0x00, 0x72, 0x00, 0x6f, 0x00,
    0x64, 0x00, 0x75, 0x00, 0x63, 0x00, 0x74, 0x00, 0x4f, 0x00, 0x70, 0x00, 0x74, 0x00, 0x69, 0x00,
    0x6f, 0x00, 0x6e, 0x00, 0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x00, 0x02, 0x00,
};

// A key name whose string needs two bytes of filler before the options.
const Bytes OpenShortKey = {
    0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0a,
    0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x06, 0x00, 0x06, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x41, 0x00,
    0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x00, 0x02, 0x00,
};

const Bytes QueryProductType = {
    0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0a, 0x0b, 0x0c,
    0x0d, 0x0e, 0x0f, 0x10, 0x18, 0x00, 0x18, 0x00, 0x00, 0x00, 0x02, 0x00, 0x0c, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x50, 0x00, 0x72, 0x00, 0x6f, 0x00, 0x64, 0x00,
    0x75, 0x00, 0x63, 0x00, 0x74, 0x00, 0x54, 0x00, 0x79, 0x00, 0x70, 0x00, 0x65, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x10, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// Offsets of the u32 fields the malformed-reply cases overwrite.
namespace wksta {
constexpr std::size_t Level = 0, NameMax = 36, NameOffset = 40, NameActual = 44, RootMax = 84, RootActual = 92,
                      WError = 120;
}
namespace srv {
constexpr std::size_t CommentMax = 84, CommentOffset = 88, CommentActual = 92, WError = 140;
}
namespace qv {
constexpr std::size_t Type = 4, DataRef = 8, Max = 12, Offset = 16, Actual = 20, SizeRef = 44,
                      LengthRef = 52, Length = 56, WError = 60;
}

// HOST1, CORP, 6.1, C:\Windows, 3 users.
const Bytes WkstaReply = {
    0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xf4, 0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00,
    0x08, 0x00, 0x02, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x02, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,
    0x48, 0x00, 0x4f, 0x00, 0x53, 0x00, 0x54, 0x00, 0x31, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x43, 0x00, 0x4f, 0x00, 0x52, 0x00, 0x50, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00,
    0x43, 0x00, 0x3a, 0x00, 0x5c, 0x00, 0x57, 0x00, 0x69, 0x00, 0x6e, 0x00, 0x64, 0x00, 0x6f, 0x00,
    0x77, 0x00, 0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// Only the computer name present.
const Bytes WkstaReplyNulls = {
    0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xf4, 0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,
    0x48, 0x00, 0x4f, 0x00, 0x53, 0x00, 0x54, 0x00, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// Access denied: level, null record, WERROR 5.
const Bytes WkstaDenied = {0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};

// HOST1, 6.1, type 0x00809a03, "Samba 4.17", users 7, disc 15, hidden 1,
// announce 240, anndelta 3000, licenses 9, C:\.
const Bytes SrvReply = {
    0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xf4, 0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00,
    0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x9a, 0x80, 0x00, 0x08, 0x00, 0x02, 0x00,
    0x07, 0x00, 0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xf0, 0x00, 0x00, 0x00,
    0xb8, 0x0b, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x02, 0x00, 0x06, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x48, 0x00, 0x4f, 0x00, 0x53, 0x00, 0x54, 0x00,
    0x31, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00,
    0x53, 0x00, 0x61, 0x00, 0x6d, 0x00, 0x62, 0x00, 0x61, 0x00, 0x20, 0x00, 0x34, 0x00, 0x2e, 0x00,
    0x31, 0x00, 0x37, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x43, 0x00, 0x3a, 0x00, 0x5c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// No comment, no user path.
const Bytes SrvReplyNulls = {
    0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xf4, 0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00,
    0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x9a, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x07, 0x00, 0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xf0, 0x00, 0x00, 0x00,
    0xb8, 0x0b, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x48, 0x00, 0x4f, 0x00, 0x53, 0x00, 0x54, 0x00,
    0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// REG_SZ "ServerNT" with its NUL: 18 bytes in a 1024-byte buffer.
const Bytes ServerNtReply = {
    0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x53, 0x00, 0x65, 0x00, 0x72, 0x00, 0x76, 0x00,
    0x65, 0x00, 0x72, 0x00, 0x4e, 0x00, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00,
    0x00, 0x04, 0x00, 0x00, 0x0c, 0x00, 0x02, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

const Bytes WinNtReply = {
    0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x57, 0x00, 0x69, 0x00, 0x6e, 0x00, 0x4e, 0x00,
    0x54, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x0c, 0x00, 0x02, 0x00,
    0x0c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// A missing value: every pointer null, WERROR 2.
const Bytes ValueMissingReply = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

// Buffer too small: an empty array, the size the value needs, WERR_MORE_DATA.
const Bytes MoreDataReply = {
    0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x08, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x08,
    0x00, 0x00, 0x0c, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xea, 0x00, 0x00, 0x00,
};

Bytes HandleReply(std::uint32_t werror) {
  Bytes out(Key.begin(), Key.end());
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(werror >> shift));
  return out;
}

Bytes Utf16Bytes(const std::u16string& text) {
  Bytes out;
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

struct Patch {
  std::size_t Offset;
  std::uint32_t Value;
};

// Replaces bytes [from, to) with `with`: how a null pointer and its absent
// pointee are cut out of a reference reply.
Bytes Spliced(const Bytes& bytes, std::size_t from, std::size_t to, const Bytes& with) {
  Bytes out(bytes.begin(), bytes.begin() + from);
  out.insert(out.end(), with.begin(), with.end());
  out.insert(out.end(), bytes.begin() + to, bytes.end());
  return out;
}

Bytes Patched(Bytes bytes, std::initializer_list<Patch> patches) {
  for (const Patch& p : patches) {
    for (int i = 0; i < 4; ++i) bytes.at(p.Offset + i) = static_cast<std::uint8_t>(p.Value >> (8 * i));
  }
  return bytes;
}

enum class Call { Wksta, Srv, OpenHKLM, OpenKey, QueryValue, CloseKey };

// Decodes from a heap block of exactly `bytes.size()` bytes, so that AddressSanitizer
// sees any read past the end of the reply.
bool Decodes(Call call, const Bytes& bytes) {
  const std::size_t n = bytes.size();
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n]);
  if (n != 0) std::memcpy(block.get(), bytes.data(), n);
  const std::uint8_t* p = block.get();
  switch (call) {
    case Call::Wksta: return DecodeNetWkstaGetInfo(p, n).has_value();
    case Call::Srv: return DecodeNetSrvGetInfo(p, n).has_value();
    case Call::OpenHKLM: return DecodeOpenHKLM(p, n).has_value();
    case Call::OpenKey: return DecodeOpenKey(p, n).has_value();
    case Call::QueryValue: return DecodeQueryValue(p, n).has_value();
    case Call::CloseKey: return DecodeCloseKey(p, n).has_value();
  }
  return false;
}

TEST(NdrEncode, RequestsMatchReferenceBytes) {
  const struct {
    const char* Name;
    Bytes Actual;
    Bytes Expected;
  } cases[] = {
      {"wksta 102", EncodeNetWkstaGetInfo(102), {0, 0, 0, 0, 0x66, 0, 0, 0}},
      {"srv 102", EncodeNetSrvGetInfo(102), {0, 0, 0, 0, 0x66, 0, 0, 0}},
      {"open HKLM", EncodeOpenHKLM(0x02000000), {0, 0, 0, 0, 0, 0, 0, 0x02}},
      {"open product options",
       EncodeOpenKey(Key, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0x00020019), OpenProductOptions},
      {"open key padded before options", EncodeOpenKey(Key, u"AB", 0x00020019), OpenShortKey},
      {"open key stops at embedded NUL", EncodeOpenKey(Key, std::u16string(u"AB\0CD", 5), 0x00020019),
       OpenShortKey},
      {"query ProductType", EncodeQueryValue(Key, u"ProductType", 1024), QueryProductType},
      {"close key", EncodeCloseKey(Key), Bytes(Key.begin(), Key.end())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(c.Actual, c.Expected);
  }
  EXPECT_EQ(OpenProductOptions.size(), 144u);
}

TEST(NdrEncode, TextLengthLimit) {
  // The byte length with its NUL must fit in 16 bits: 32767 units is the most.
  const struct {
    std::size_t Units;
    std::size_t KeyStub;  // 0: refused
  } cases[] = {
      {0, 20 + 8 + 12 + 2 + 2 + 8},
      {32766, 20 + 8 + 12 + 65534 + 2 + 8},
      {32767, 0},
      {100000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Units);
    const std::u16string text(c.Units, u'x');
    EXPECT_EQ(EncodeOpenKey(Key, text, 0x00020019).size(), c.KeyStub);
    EXPECT_EQ(EncodeQueryValue(Key, text, 1024).empty(), c.KeyStub == 0);
  }
}

TEST(NdrDecode, WorkstationRecords) {
  const auto full = DecodeNetWkstaGetInfo(WkstaReply.data(), WkstaReply.size());
  ASSERT_TRUE(full);
  EXPECT_EQ(full->WError, 0u);
  EXPECT_EQ(full->Value.PlatformId, 500u);
  EXPECT_EQ(full->Value.ComputerName, u"HOST1");
  EXPECT_EQ(full->Value.LanGroup, u"CORP");
  EXPECT_EQ(full->Value.VerMajor, 6u);
  EXPECT_EQ(full->Value.VerMinor, 1u);
  EXPECT_EQ(full->Value.LanRoot, u"C:\\Windows");
  EXPECT_EQ(full->Value.LoggedOnUsers, 3u);

  const auto nulls = DecodeNetWkstaGetInfo(WkstaReplyNulls.data(), WkstaReplyNulls.size());
  ASSERT_TRUE(nulls);
  EXPECT_EQ(nulls->Value.ComputerName, u"HOST1");
  EXPECT_FALSE(nulls->Value.LanGroup);
  EXPECT_FALSE(nulls->Value.LanRoot);

  const auto denied = DecodeNetWkstaGetInfo(WkstaDenied.data(), WkstaDenied.size());
  ASSERT_TRUE(denied);
  EXPECT_EQ(denied->WError, 5u);
  EXPECT_FALSE(denied->Value.ComputerName);
}

TEST(NdrDecode, ServerRecords) {
  const auto full = DecodeNetSrvGetInfo(SrvReply.data(), SrvReply.size());
  ASSERT_TRUE(full);
  const ServerInfo102& s = full->Value;
  EXPECT_EQ(full->WError, 0u);
  EXPECT_EQ(s.PlatformId, 500u);
  EXPECT_EQ(s.Name, u"HOST1");
  EXPECT_EQ(s.VerMajor, 6u);
  EXPECT_EQ(s.VerMinor, 1u);
  EXPECT_EQ(s.Type, 0x00809a03u);
  EXPECT_EQ(s.Comment, u"Samba 4.17");
  EXPECT_EQ(s.Users, 7u);
  EXPECT_EQ(s.Disc, 15u);
  EXPECT_EQ(s.Hidden, 1u);
  EXPECT_EQ(s.Announce, 240u);
  EXPECT_EQ(s.AnnDelta, 3000u);
  EXPECT_EQ(s.Licenses, 9u);
  EXPECT_EQ(s.UserPath, u"C:\\");

  const auto nulls = DecodeNetSrvGetInfo(SrvReplyNulls.data(), SrvReplyNulls.size());
  ASSERT_TRUE(nulls);
  EXPECT_EQ(nulls->Value.Name, u"HOST1");
  EXPECT_EQ(nulls->Value.Type, 0x00809a03u);
  EXPECT_FALSE(nulls->Value.Comment);
  EXPECT_FALSE(nulls->Value.UserPath);
  EXPECT_EQ(nulls->Value.Licenses, 9u);
}

TEST(NdrDecode, StringsEndAtFirstNul) {
  // "HOST1" sent as H \0 S T 1 \0: the name is what precedes the first NUL.
  Bytes early = WkstaReplyNulls;
  early[50] = 0;
  const auto cut = DecodeNetWkstaGetInfo(early.data(), early.size());
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->Value.ComputerName, u"H");
}

TEST(NdrDecode, RegistryValues) {
  const struct {
    const char* Name;
    Bytes Reply;
    std::uint32_t WError;
    std::uint32_t Type;
    Bytes Data;
  } cases[] = {
      {"ServerNT", ServerNtReply, 0, 1, Utf16Bytes(std::u16string(u"ServerNT\0", 9))},
      {"WinNT", WinNtReply, 0, 1, Utf16Bytes(std::u16string(u"WinNT\0", 6))},
      {"length shorter than the array", Patched(ServerNtReply, {{qv::Length, 4}}), 0, 1, Utf16Bytes(u"Se")},
      {"odd length of binary data", Patched(ServerNtReply, {{qv::Type, 3}, {qv::Length, 5}}), 0, 3,
       {0x53, 0x00, 0x65, 0x00, 0x72}},
      {"missing value", ValueMissingReply, 2, 0, {}},
      {"buffer too small", MoreDataReply, 234, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto r = DecodeQueryValue(c.Reply.data(), c.Reply.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->WError, c.WError);
    EXPECT_EQ(r->Value.Type, c.Type);
    EXPECT_EQ(r->Value.Data, c.Data);
  }
  EXPECT_EQ(ServerNtReply.size(), 64u);
}

TEST(NdrDecode, HandleReplies) {
  const PolicyHandle zero{};
  const auto decoders = {&DecodeOpenHKLM, &DecodeOpenKey, &DecodeCloseKey};
  const struct {
    const char* Name;
    Bytes Reply;
    bool Valid;
    std::uint32_t WError;
    PolicyHandle Handle;
  } cases[] = {
      {"opened", HandleReply(0), true, 0, Key},
      {"missing key", HandleReply(2), true, 2, zero},
      {"short handle", Bytes(Key.begin(), Key.begin() + 19), false, 0, zero},
      {"no WERROR", Bytes(Key.begin(), Key.end()), false, 0, zero},
  };
  for (const auto& decode : decoders) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Name);
      const auto r = decode(c.Reply.data(), c.Reply.size());
      ASSERT_EQ(r.has_value(), c.Valid);
      if (!r) continue;
      EXPECT_EQ(r->WError, c.WError);
      EXPECT_EQ(r->Value, c.Handle);
    }
  }
}

struct ReplyCase {
  const char* Name;
  Call Decoder;
  Bytes Reply;
};

const ReplyCase ValidReplies[] = {
    {"wksta", Call::Wksta, WkstaReply},
    {"wksta nulls", Call::Wksta, WkstaReplyNulls},
    {"wksta denied", Call::Wksta, WkstaDenied},
    {"srv", Call::Srv, SrvReply},
    {"srv nulls", Call::Srv, SrvReplyNulls},
    {"ServerNT", Call::QueryValue, ServerNtReply},
    {"WinNT", Call::QueryValue, WinNtReply},
    {"value missing", Call::QueryValue, ValueMissingReply},
    {"more data", Call::QueryValue, MoreDataReply},
    {"open HKLM", Call::OpenHKLM, HandleReply(0)},
    {"open key", Call::OpenKey, HandleReply(2)},
    {"close key", Call::CloseKey, HandleReply(0)},
};

TEST(NdrDecode, EveryTruncationIsRejected) {
  for (const ReplyCase& c : ValidReplies) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(Decodes(c.Decoder, c.Reply));
    for (std::size_t n = 0; n < c.Reply.size(); ++n) {
      EXPECT_FALSE(Decodes(c.Decoder, Bytes(c.Reply.begin(), c.Reply.begin() + n))) << "prefix " << n;
    }
  }
  EXPECT_FALSE(DecodeNetWkstaGetInfo(nullptr, 0));
  EXPECT_FALSE(DecodeQueryValue(nullptr, 0));
}

TEST(NdrDecode, TrailingBytes) {
  const struct {
    const char* Name;
    Bytes Tail;
    bool Valid;
  } tails[] = {
      {"seven zero bytes of filler", Bytes(7, 0), true},
      {"eight zero bytes", Bytes(8, 0), false},
      {"non-zero filler", {0, 0, 1}, false},
  };
  for (const ReplyCase& c : ValidReplies) {
    for (const auto& t : tails) {
      SCOPED_TRACE(std::string(c.Name) + ": " + t.Name);
      Bytes reply = c.Reply;
      reply.insert(reply.end(), t.Tail.begin(), t.Tail.end());
      EXPECT_EQ(Decodes(c.Decoder, reply), t.Valid);
    }
  }
}

TEST(NdrDecode, MalformedRepliesAreRejected) {
  const ReplyCase cases[] = {
      // Information records.
      {"wksta level 101", Call::Wksta, Patched(WkstaReply, {{wksta::Level, 101}})},
      {"wksta null record on success", Call::Wksta, Patched(WkstaDenied, {{8, 0}})},
      {"wksta name offset", Call::Wksta, Patched(WkstaReply, {{wksta::NameOffset, 1}})},
      {"wksta name actual > max", Call::Wksta, Patched(WkstaReply, {{wksta::NameActual, 7}})},
      {"wksta name count beyond input", Call::Wksta,
       Patched(WkstaReply, {{wksta::NameMax, 0x7fffffff}, {wksta::NameActual, 0x7fffffff}})},
      {"wksta name count wraps", Call::Wksta,
       Patched(WkstaReply, {{wksta::NameMax, 0xffffffff}, {wksta::NameActual, 0x80000001}})},
      {"wksta lan root a little beyond input", Call::Wksta,
       Patched(WkstaReply, {{wksta::RootMax, 16}, {wksta::RootActual, 16}})},
      {"wksta shorter string leaves garbage", Call::Wksta, Patched(WkstaReply, {{wksta::RootActual, 8}})},
      {"srv comment offset", Call::Srv, Patched(SrvReply, {{srv::CommentOffset, 2}})},
      {"srv comment actual > max", Call::Srv, Patched(SrvReply, {{srv::CommentActual, 12}})},
      {"srv comment count beyond input", Call::Srv,
       Patched(SrvReply, {{srv::CommentMax, 0x40000000}, {srv::CommentActual, 0x40000000}})},
      {"srv comment count too small", Call::Srv, Patched(SrvReply, {{srv::CommentActual, 2}})},
      {"srv error after a record cut short", Call::Srv, Spliced(SrvReply, srv::CommentMax, SrvReply.size(), {5, 0, 0, 0})},
      // Registry values.
      {"value offset", Call::QueryValue, Patched(ServerNtReply, {{qv::Offset, 2}})},
      {"value actual > max", Call::QueryValue, Patched(ServerNtReply, {{qv::Max, 0x10}})},
      {"value count beyond input", Call::QueryValue,
       Patched(ServerNtReply, {{qv::Max, 0xffffffff}, {qv::Actual, 0xfffffff0}})},
      {"value length > actual", Call::QueryValue, Patched(ServerNtReply, {{qv::Length, 0x14}})},
      {"value odd length of text", Call::QueryValue, Patched(ServerNtReply, {{qv::Length, 0x11}})},
      {"value odd length of expandable text", Call::QueryValue,
       Patched(ServerNtReply, {{qv::Type, 2}, {qv::Length, 0x11}})},
      {"value all null on success", Call::QueryValue, Patched(ValueMissingReply, {{16, 0}})},
      {"value null type on success", Call::QueryValue, Spliced(ServerNtReply, 0, qv::DataRef, {0, 0, 0, 0})},
      {"value null data on success", Call::QueryValue, Spliced(ServerNtReply, qv::DataRef, qv::SizeRef, {0, 0, 0, 0})},
      {"value null length on success", Call::QueryValue,
       Spliced(ServerNtReply, qv::LengthRef, qv::WError, {0, 0, 0, 0})},
      {"value error with count beyond input", Call::QueryValue,
       Patched(MoreDataReply, {{qv::Max, 0x7fffffff}, {qv::Actual, 0x7fffffff}})},
      {"value garbage after WERROR", Call::QueryValue,
       [] {
         Bytes b = ServerNtReply;
         b.insert(b.end(), {1, 2, 3, 4});
         return b;
       }()},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(Decodes(c.Decoder, c.Reply));
  }
  static_assert(qv::WError + 4 == 64, "offsets follow the ServerNT reply");
  static_assert(wksta::WError + 4 == 124, "offsets follow the workstation reply");
  static_assert(srv::WError + 4 == 144, "offsets follow the server reply");
}

// clang-format on
}  // namespace
}  // namespace quorvex::samba
