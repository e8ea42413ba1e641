// Device and address capabilities read back at their published offsets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/capability_answers.h"
#include "provider/provider_state.h"
#include "session/settings.h"
#include "tests/capabilities/capability_bytes.h"

namespace qv {
namespace {

using test::CapsBuffer;
using test::kMarker;
using test::kMarkerWord;

constexpr LONG kStructureTooSmall = static_cast<LONG>(0x8000004D);
constexpr char kGuidText[] = "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9";
// Provider information (33 characters) and line name (15), UTF-16 with NUL.
constexpr std::uint32_t kProviderInfoBytes = 68;
constexpr std::uint32_t kLineNameBytes = 32;
constexpr std::uint32_t kDevCapsNeeded = 268 + kProviderInfoBytes + kLineNameBytes;

class CapabilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = SettingsSnapshot();
    ProviderSettings settings = saved_;
    settings.username = "201";
    settings.guid = kGuidText;
    ReplaceSettings(settings);
    providerState.permanentProviderId = 0x12345;
    providerState.lineDeviceIdBase = 7;
  }
  void TearDown() override { ReplaceSettings(saved_); }
  void setUsername(const std::string& name) {
    ProviderSettings settings = SettingsSnapshot();
    settings.username = name;
    ReplaceSettings(settings);
  }
  void setGuid(const std::string& guid) {
    ProviderSettings settings = SettingsSnapshot();
    settings.guid = guid;
    ReplaceSettings(settings);
  }
  ProviderSettings saved_;
};

struct Member {
  std::size_t offset;
  std::uint32_t value;
  const char* name;
};

// Every member the line reports, other than sizes and strings.
const std::vector<Member> kDevCapsMembers = {
    {28, 0x23450000, "dwPermanentLineID"},
    {40, 1, "dwStringFormat"},
    {44, 1, "dwAddressModes"},
    {48, 1, "dwNumAddresses"},
    {52, 1, "dwBearerModes"},
    {60, 4, "dwMediaModes"},
    {72, 2, "dwGenerateDigitModes"},
    {112, 0x20, "dwDevCapFlags"},
    {116, 1, "dwMaxNumActiveCalls"},
    {156, 100, "MinDialParams.dwDialPause"},
    {160, 50, "MinDialParams.dwDialSpeed"},
    {164, 100, "MinDialParams.dwDigitDuration"},
    {168, 100, "MinDialParams.dwWaitForDialtone"},
    {172, 1000, "MaxDialParams.dwDialPause"},
    {176, 50, "MaxDialParams.dwDialSpeed"},
    {180, 1000, "MaxDialParams.dwDigitDuration"},
    {184, 1000, "MaxDialParams.dwWaitForDialtone"},
    {188, 250, "DefaultDialParams.dwDialPause"},
    {192, 50, "DefaultDialParams.dwDialSpeed"},
    {196, 250, "DefaultDialParams.dwDigitDuration"},
    {200, 500, "DefaultDialParams.dwWaitForDialtone"},
    {236, 8, "dwLineFeatures"},
    {252, 0x0F1E2D3C, "PermanentLineGuid.Data1"},
    {256, 0x49784B5A, "PermanentLineGuid.Data2 and Data3"},
    {260, 0xB3A49586, "PermanentLineGuid.Data4[0..3]"},
    {264, 0xF9E0D1C2, "PermanentLineGuid.Data4[4..7]"},
};

void expectDevCapsFixedPart(const CapsBuffer& buffer) {
  for (const Member& m : kDevCapsMembers) EXPECT_EQ(buffer.at(m.offset), m.value) << m.name;
  // Everything else in the fixed part is zero (sizes and offsets aside).
  for (std::size_t offset = 12; offset < 268; offset += 4) {
    bool named = offset == 12 || offset == 16 || offset == 32 || offset == 36;
    for (const Member& m : kDevCapsMembers) named = named || m.offset == offset;
    if (!named) {
      EXPECT_EQ(buffer.at(offset), 0u) << "offset " << offset;
    }
  }
}

TEST_F(CapabilitiesTest, DevCapsInLargeBufferCarriesBothStrings) {
  CapsBuffer buffer(1024);
  ASSERT_EQ(TSPI_lineGetDevCaps(7, 0x00020002, 0, buffer.as<LINEDEVCAPS>()), 0);
  EXPECT_EQ(buffer.at(0), 1024u);
  EXPECT_EQ(buffer.at(4), kDevCapsNeeded);
  EXPECT_EQ(buffer.at(8), kDevCapsNeeded);
  EXPECT_EQ(buffer.at(12), kProviderInfoBytes);
  EXPECT_EQ(buffer.at(16), 268u);
  EXPECT_EQ(buffer.at(32), kLineNameBytes);
  EXPECT_EQ(buffer.at(36), 268u + kProviderInfoBytes);
  EXPECT_EQ(buffer.wide(268, kProviderInfoBytes), u"Quorvel ONE TAPI Service Provider");
  EXPECT_EQ(buffer.at16(268 + kProviderInfoBytes - 2), 0);
  EXPECT_EQ(buffer.wide(336, kLineNameBytes), u"Quorvel ONE PBX");
  EXPECT_EQ(buffer.at16(336 + kLineNameBytes - 2), 0);
  expectDevCapsFixedPart(buffer);
  // The rest of the caller's buffer is cleared, nothing beyond it touched.
  for (std::size_t i = kDevCapsNeeded; i < 1024; ++i) ASSERT_EQ(buffer.bytes[i], 0) << i;
  EXPECT_EQ(buffer.bytes[1024], kMarker);
}

TEST_F(CapabilitiesTest, DevCapsBuffersTooSmallForTheStringsKeepTheFixedPart) {
  for (std::uint32_t total : {268u, kDevCapsNeeded - 1}) {
    SCOPED_TRACE(total);
    CapsBuffer buffer(total);
    ASSERT_EQ(TSPI_lineGetDevCaps(7, 0x00020002, 0, buffer.as<LINEDEVCAPS>()), 0);
    EXPECT_EQ(buffer.at(0), total);
    EXPECT_EQ(buffer.at(4), kDevCapsNeeded);
    EXPECT_EQ(buffer.at(8), total);
    expectDevCapsFixedPart(buffer);
    for (std::size_t i = 268; i < total; ++i) ASSERT_EQ(buffer.bytes[i], 0) << i;
    EXPECT_EQ(buffer.bytes[total], kMarker);
  }
}

TEST_F(CapabilitiesTest, DevCapsBelowTheFixedPartIsRefusedWithoutWritingPastIt) {
  CapsBuffer buffer(100);
  EXPECT_EQ(TSPI_lineGetDevCaps(7, 0x00020002, 0, buffer.as<LINEDEVCAPS>()), kStructureTooSmall);
  EXPECT_EQ(buffer.at(4), kDevCapsNeeded);
  for (std::size_t i = 100; i < 400; ++i) ASSERT_EQ(buffer.bytes[i], kMarker) << i;
}

TEST(PermanentLineIdTest, CombinesProviderAndDeviceIn32Bits) {
  struct Case {
    std::uint32_t provider, base, device, expected;
  };
  const Case cases[] = {
      {0x12345, 0, 0, 0x23450000},
      {0x12345, 7, 7, 0x23450000},
      {0x1, 10, 12, 0x00010002},
      {0xFFFFFFFF, 0, 0x0001FFFF, 0xFFFFFFFF},
      // A device below the base wraps, as 32-bit arithmetic does.
      {0x2, 10, 9, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PermanentLineId(c.provider, c.base, c.device), c.expected)
        << c.provider << " " << c.base << " " << c.device;
  }
}

TEST(ParseLineGuidTest, TextsGiveTheirGuidWithoutReadingPastTheEnd) {
  struct Case {
    const char* text;
    std::uint32_t data1;
    std::uint16_t data2, data3;
    std::uint8_t data4[8];
  };
  const Case cases[] = {
      {"0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9",
       0x0F1E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF9}},
      {"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",
       0x0F1E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF9}},
      {"0F1e2D3c-4b5A-4978-8695-a4B3c2D1e0F9",
       0x0F1E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF9}},
      // Separators are never read; any other character counts as 0.
      {"0f1e2d3cX4b5aX4978X8695Xa4b3c2d1e0f9",
       0x0F1E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF9}},
      {"zz1e2d3c-4b5a-4978-8695-a4b3c2d1e0fg",
       0x001E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF0}},
      // Short texts: the characters that exist, nothing for the rest.
      {"", 0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"0f1e", 0x0F1E, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"0f1e2d3c-4b", 0x0F1E2D3C, 0x4B, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"0f1e2d3c-4b5a-4978-8695-a4b3c", 0x0F1E2D3C, 0x4B5A, 0x4978, {0x86, 0x95, 0xA4, 0xB3, 0x0C, 0, 0, 0}},
      // Longer texts: the rest is ignored.
      {"0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9ffff",
       0x0F1E2D3C,
       0x4B5A,
       0x4978,
       {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // An exact-size copy on the heap, so a read past the end is caught by ASan.
    const std::string text(c.text);
    const GUID guid = ParseLineGuid(std::string_view(text.data(), text.size()));
    EXPECT_EQ(guid.Data1, c.data1);
    EXPECT_EQ(guid.Data2, c.data2);
    EXPECT_EQ(guid.Data3, c.data3);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(guid.Data4[i], c.data4[i]) << i;
  }
}

TEST(ParseHexFieldTest, WrapsAt32Bits) {
  EXPECT_EQ(ParseHexField(""), 0u);
  EXPECT_EQ(ParseHexField("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHexField("123456789"), 0x23456789u);
  EXPECT_EQ(ParseHexField("-1"), 0x1u);
}

TEST_F(CapabilitiesTest, DevCapsFollowsTheCurrentGuidSetting) {
  setGuid("");
  CapsBuffer buffer(1024);
  ASSERT_EQ(TSPI_lineGetDevCaps(7, 0x00020002, 0, buffer.as<LINEDEVCAPS>()), 0);
  for (std::size_t offset = 252; offset < 268; offset += 4) EXPECT_EQ(buffer.at(offset), 0u);
}

// Members LINEADDRESSCAPS reports; everything not listed keeps the marker.
const std::vector<Member> kAddressCapsMembers = {
    {12, 7, "dwLineDeviceID"},         {32, 1, "dwAddressSharing"},      {40, 0x30, "dwCallInfoStates"},
    {44, 0x28, "dwCallerIDFlags"},     {48, 0x28, "dwCalledIDFlags"},    {56, 0x28, "dwRedirectionIDFlags"},
    {64, 0x117, "dwCallStates"},       {68, 0x20, "dwDialToneModes"},    {72, 0x8, "dwBusyModes"},
    {76, 0x10, "dwSpecialInfo"},       {80, 0x800, "dwDisconnectModes"}, {84, 1, "dwMaxNumActiveCalls"},
    {104, 0x100020, "dwAddrCapFlags"}, {108, 0x2C5, "dwCallFeatures"},   {176, 0x3, "dwAddressFeatures"},
};

void expectAddressCapsFixedPart(const CapsBuffer& buffer) {
  for (const Member& m : kAddressCapsMembers) EXPECT_EQ(buffer.at(m.offset), m.value) << m.name;
  for (std::size_t offset = 12; offset < 228; offset += 4) {
    bool named = offset == 16 || offset == 20;
    for (const Member& m : kAddressCapsMembers) named = named || m.offset == offset;
    if (!named) {
      EXPECT_EQ(buffer.at(offset), kMarkerWord) << "offset " << offset;
    }
  }
}

TEST_F(CapabilitiesTest, AddressCapsNameTheAddressAfterTheUser) {
  CapsBuffer buffer(1024);
  ASSERT_EQ(TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
  EXPECT_EQ(buffer.at(0), 1024u);
  EXPECT_EQ(buffer.at(4), 236u);
  EXPECT_EQ(buffer.at(8), 236u);
  EXPECT_EQ(buffer.at(16), 8u);
  EXPECT_EQ(buffer.at(20), 228u);
  EXPECT_EQ(buffer.wide(228, 8), u"201");
  EXPECT_EQ(buffer.at16(234), 0);
  EXPECT_EQ(buffer.bytes[236], kMarker);
  expectAddressCapsFixedPart(buffer);
}

TEST_F(CapabilitiesTest, AddressCapsWithoutUserHaveNoAddress) {
  setUsername("");
  CapsBuffer buffer(1024);
  ASSERT_EQ(TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
  EXPECT_EQ(buffer.at(4), 228u);
  EXPECT_EQ(buffer.at(8), 228u);
  EXPECT_EQ(buffer.at(16), kMarkerWord);
  EXPECT_EQ(buffer.at(20), kMarkerWord);
  expectAddressCapsFixedPart(buffer);
  EXPECT_EQ(buffer.bytes[228], kMarker);
}

TEST_F(CapabilitiesTest, AddressCapsInShortBuffers) {
  {
    SCOPED_TRACE("room for the fixed part only");
    CapsBuffer buffer(228);
    ASSERT_EQ(TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
    EXPECT_EQ(buffer.at(4), 236u);
    EXPECT_EQ(buffer.at(8), 228u);
    EXPECT_EQ(buffer.at(16), kMarkerWord);
    expectAddressCapsFixedPart(buffer);
    EXPECT_EQ(buffer.bytes[228], kMarker);
  }
  {
    SCOPED_TRACE("smaller than the fixed part: sizes only");
    CapsBuffer buffer(100);
    ASSERT_EQ(TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
    EXPECT_EQ(buffer.at(4), 236u);
    EXPECT_EQ(buffer.at(8), 100u);
    for (std::size_t i = 12; i < 300; ++i) ASSERT_EQ(buffer.bytes[i], kMarker) << i;
  }
}

TEST_F(CapabilitiesTest, AddressBytesAboveAsciiWidenAsLatin1) {
  setUsername("\xE9x");
  CapsBuffer buffer(1024);
  ASSERT_EQ(TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
  EXPECT_EQ(buffer.at(16), 6u);
  EXPECT_EQ(buffer.at16(228), 0x00E9);
  EXPECT_EQ(buffer.at16(230), u'x');
}

TEST_F(CapabilitiesTest, StatusAnswers) {
  {
    SCOPED_TRACE("address status");
    CapsBuffer buffer(64);
    ASSERT_EQ(TSPI_lineGetAddressStatus(nullptr, 0, buffer.as<LINEADDRESSSTATUS>()), 0);
    EXPECT_EQ(buffer.at(0), 64u);
    EXPECT_EQ(buffer.at(4), 64u);
    EXPECT_EQ(buffer.at(8), kMarkerWord);  // dwUsedSize is not written
    EXPECT_EQ(buffer.at(12), 1u);
    EXPECT_EQ(buffer.at(16), 0u);
    EXPECT_EQ(buffer.at(20), 0u);
    EXPECT_EQ(buffer.at(24), 0u);
    for (std::size_t i = 28; i < 100; ++i) ASSERT_EQ(buffer.bytes[i], kMarker) << i;
  }
  {
    SCOPED_TRACE("misspelt twin and line status leave the structure alone");
    CapsBuffer buffer(64);
    EXPECT_EQ(TSPI_lineGetAdressStatus(nullptr, 0, buffer.as<LINEADDRESSSTATUS>()), 0);
    EXPECT_EQ(TSPI_lineGetLineDevStatus(nullptr, buffer.as<LINEDEVSTATUS>()), static_cast<LONG>(0x8000002B));
    for (std::size_t i = 4; i < 100; ++i) ASSERT_EQ(buffer.bytes[i], kMarker) << i;
  }
  {
    SCOPED_TRACE("address ids and extension id");
    DWORD count = 0xCCCC;
    EXPECT_EQ(TSPI_lineGetNumAddressIDs(nullptr, &count), 0);
    EXPECT_EQ(count, 1u);
    DWORD addressId = 0xCCCC;
    EXPECT_EQ(TSPI_lineGetAddressID(nullptr, &addressId, 1, nullptr, 0), 0);
    EXPECT_EQ(addressId, 0xCCCCu);
    CapsBuffer extension(16);
    EXPECT_EQ(TSPI_lineGetExtensionID(7, 0x00020002, extension.as<LINEEXTENSIONID>()), 0);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(extension.bytes[i], 0) << i;
    EXPECT_EQ(extension.bytes[16], kMarker);
  }
}

}  // namespace
}  // namespace qv
