// The lines of a `lines` list through the exports: enumeration, names and
// identifiers, capabilities per line, and calls placed in each line's own
// slots from its own extension, with the PBX end on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/line_identity.h"
#include "provider/line_set.h"
#include "provider/session_event_sink.h"
#include "provider/tapi_delivery.h"
#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/settings.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

constexpr const char* kGuid = "6ba7b810-9dad-11d1-80b4-00c04fd430c8";

std::string guidText(const GUID& g) {
  char text[48];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string narrowAt(const void* structure, DWORD offset, DWORD size) {
  std::string out;
  const auto* bytes = static_cast<const unsigned char*>(structure) + offset;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    if (bytes[i] == 0 && bytes[i + 1] == 0) break;
    out.push_back(static_cast<char>(bytes[i]));
  }
  return out;
}

struct LineView {
  std::string name;
  std::string address;
  DWORD permanentId = 0;
  std::string guid;
};

LineView ViewOf(DWORD deviceId) {
  std::vector<std::uint32_t> devWords(1024, 0);
  auto* dev = reinterpret_cast<LINEDEVCAPS*>(devWords.data());
  dev->dwTotalSize = 4096;
  EXPECT_EQ(TSPI_lineGetDevCaps(deviceId, 0x20000, 0, dev), 0);
  std::vector<std::uint32_t> addrWords(1024, 0);
  auto* addr = reinterpret_cast<LINEADDRESSCAPS*>(addrWords.data());
  addr->dwTotalSize = 4096;
  EXPECT_EQ(TSPI_lineGetAddressCaps(deviceId, 0, 0x20000, 0, addr), 0);
  EXPECT_EQ(addr->dwLineDeviceID, deviceId);
  return {narrowAt(dev, dev->dwLineNameOffset, dev->dwLineNameSize),
          narrowAt(addr, addr->dwAddressOffset, addr->dwAddressSize), dev->dwPermanentLineID,
          guidText(dev->PermanentLineGuid)};
}

TEST(LineIdentity, PermanentIdsAreOneToOneUpToNineDigits) {
  struct Case {
    const char* extension;
    DWORD id;
  };
  const Case cases[] = {{"0", 1},     {"9", 10},    {"00", 11},     {"99", 110},
                        {"000", 111}, {"202", 313}, {"0202", 1313}, {"999999999", 1111111110u}};
  for (const Case& c : cases) EXPECT_EQ(ExtensionPermanentLineId(c.extension), c.id) << c.extension;
  EXPECT_GT(ExtensionPermanentLineId("4930123456789"), kLongExtensionIdBase);
  EXPECT_NE(ExtensionPermanentLineId("4930123456789"), ExtensionPermanentLineId("4930123456788"));
}

TEST(LineIdentity, GuidIsTheNameBasedUuidOfTheExtension) {
  // RFC 4122's DNS namespace and a name from the published examples.
  EXPECT_EQ(guidText(ExtensionLineGuid(kGuid, "www.example.com")), "2ed6657d-e927-568b-95e1-2665a8aea6a2");
  EXPECT_NE(guidText(ExtensionLineGuid(kGuid, "202")), guidText(ExtensionLineGuid(kGuid, "203")));
  EXPECT_NE(guidText(ExtensionLineGuid(kGuid, "202")),
            guidText(ExtensionLineGuid("00000000-0000-4000-8000-000000000001", "202")));
}

std::vector<std::pair<DRV_REQUESTID, LONG>> completions;
std::mutex completionsLock;
void recordCompletion(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(completionsLock);
  completions.emplace_back(id, result);
}

std::string tagText(const std::string& xml, const std::string& tag) {
  std::size_t open = xml.find("<" + tag + ">");
  std::size_t close = xml.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos) return "<missing>";
  open += tag.size() + 2;
  return xml.substr(open, close - open);
}

class ListedLines : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_ = std::filesystem::temp_directory_path() / ("qv-listed-" + std::to_string(::getpid()) + ".reg");
    setenv("QUORVELONE_REGISTRY", registry_.c_str(), 1);
  }
  static void TearDownTestSuite() { std::filesystem::remove(registry_); }
  void SetUp() override {
    ASSERT_TRUE(peer_.Ok());
    pbxLink().Attach(peer_.TakeClient(), false, "office");
    completions.clear();
    StartTapiDelivery(recordCompletion);
    SetSessionEvents(&providerSessionEvents());
    WriteSetting("guid", kGuid);
  }
  void TearDown() override {
    FailPendingRequests(RequestOutcome::kShutdown);
    SetSessionEvents(nullptr);
    StopTapiDelivery();
    closeSocket(pbxLink().Detach());
    BuildLineSet({}, {});
  }
  DWORD Enumerate(const std::string& lines) {
    WriteSetting("lines", lines);
    DWORD numLines = 0;
    DWORD numPhones = 0;
    EXPECT_EQ(TSPI_providerEnumDevices(1, &numLines, &numPhones, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(numPhones, 1u);
    return numLines;
  }
  HDRVLINE Open(DWORD deviceId) {
    HDRVLINE line = nullptr;
    EXPECT_EQ(TSPI_lineOpen(deviceId, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1000} + deviceId), &line,
                            0x20000, nullptr),
              0);
    return line;
  }
  LONG Make(HDRVLINE line, DRV_REQUESTID id, HDRVCALL* call) {
    return TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x100} + id), call,
                             reinterpret_cast<LPCWSTR>(u"55"), 0, nullptr);
  }
  void Answer(std::uint32_t invokeId, const std::string& xml) {
    SessionState state;
    DispatchCstaFrame(state, invokeId, xml);
  }

  static inline std::filesystem::path registry_;
  test::LoopbackPeer peer_;
};

TEST_F(ListedLines, EachEntryIsALineWithItsOwnNameAddressAndIdentifiers) {
  ASSERT_EQ(Enumerate("202=Reception; 300-302, 7"), 5u);
  const std::vector<std::string> names = {"Reception (202)", "300", "301", "302", "7"};
  const std::vector<std::string> addresses = {"202", "300", "301", "302", "7"};
  std::set<DWORD> ids;
  std::set<std::string> guids;
  for (DWORD i = 0; i < 5; ++i) {
    const LineView view = ViewOf(i);
    EXPECT_EQ(view.name, names[i]);
    EXPECT_EQ(view.address, addresses[i]);
    EXPECT_EQ(view.permanentId, ExtensionPermanentLineId(addresses[i]));
    ids.insert(view.permanentId);
    guids.insert(view.guid);
  }
  EXPECT_EQ(ids.size(), 5u);
  EXPECT_EQ(guids.size(), 5u);
  std::vector<std::uint32_t> words(1024, 0);
  auto* dev = reinterpret_cast<LINEDEVCAPS*>(words.data());
  dev->dwTotalSize = 4096;
  EXPECT_EQ(TSPI_lineGetDevCaps(5, 0x20000, 0, dev), static_cast<LONG>(LINEERR_BADDEVICEID));
  HDRVLINE line = nullptr;
  EXPECT_EQ(TSPI_lineOpen(5, nullptr, &line, 0x20000, nullptr), static_cast<LONG>(LINEERR_BADDEVICEID));
}

TEST_F(ListedLines, AnExtensionKeepsItsIdentifiersWhenTheListChanges) {
  ASSERT_EQ(Enumerate("202=Reception;300-302"), 4u);
  const LineView reception = ViewOf(0);
  const LineView last = ViewOf(3);
  // Reordered and grown: found at new positions, same identifiers.
  ASSERT_EQ(Enumerate("500, 302; 202=Front desk, 300-301"), 5u);
  EXPECT_EQ(ViewOf(1).permanentId, last.permanentId);
  EXPECT_EQ(ViewOf(1).guid, last.guid);
  EXPECT_EQ(ViewOf(2).permanentId, reception.permanentId);
  EXPECT_EQ(ViewOf(2).guid, reception.guid);
  EXPECT_EQ(ViewOf(2).name, "Front desk (202)");
  // Cleared: the one line of the first release again.
  ASSERT_EQ(Enumerate(""), 1u);
  EXPECT_FALSE(LinesListed());
}

TEST_F(ListedLines, CallsGoOutFromTheirLinesExtensionInTheirLinesSlots) {
  ASSERT_EQ(Enumerate("202;300"), 2u);
  HDRVLINE first = Open(0);
  HDRVLINE second = Open(1);
  ASSERT_NE(first, second);
  // The first line's ten slots fill up; the second still places calls.
  HDRVCALL calls[10] = {};
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(Make(first, 100 + i, &calls[i]), 100 + i);
    auto frame = peer_.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(tagText(frame->xml, "callingDevice"), "202@office");
  }
  HDRVCALL extra = nullptr;
  EXPECT_EQ(Make(first, 200, &extra), static_cast<LONG>(LINEERR_CALLUNAVAIL));
  HDRVCALL other = nullptr;
  ASSERT_EQ(Make(second, 201, &other), 201);
  auto frame = peer_.NextFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(tagText(frame->xml, "callingDevice"), "300@office");
  EXPECT_EQ(ListedLineOfSlot(SlotFromHandle(other)), ListedLineFromHandle(second));

  // The answer names the call on its own line; close clears it there.
  Answer(frame->invokeId,
         "<MakeCallResponse><callingDevice><callID>C-9</callID><deviceID>300@office"
         "</deviceID></callingDevice></MakeCallResponse>");
  std::vector<std::uint32_t> words(128, 0);
  auto* info = reinterpret_cast<LINECALLINFO*>(words.data());
  info->dwTotalSize = 512;
  EXPECT_EQ(TSPI_lineGetCallInfo(other, info), 0);
  EXPECT_EQ(info->dwLineDeviceID, 1u);
  EXPECT_EQ(TSPI_lineCloseCall(other), 0);
  auto clear = peer_.NextFrame();
  ASSERT_TRUE(clear);
  EXPECT_EQ(tagText(clear->xml, "callID"), "C-9");
  EXPECT_EQ(tagText(clear->xml, "deviceID"), "300@office");
  EXPECT_FALSE(SlotFromHandle(other)->makeCallPending);
  EXPECT_EQ(TSPI_lineCloseCall(other), static_cast<LONG>(LINEERR_INVALCALLHANDLE));

  // A handle that is no line of the set is refused before anything is sent.
  EXPECT_EQ(Make(reinterpret_cast<HDRVLINE>(&words), 300, &extra),
            static_cast<LONG>(LINEERR_INVALLINEHANDLE));
  for (HDRVCALL call : calls) EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  EXPECT_EQ(TSPI_lineClose(first), 0);
  EXPECT_EQ(TSPI_lineClose(second), 0);
  FailPendingRequests(RequestOutcome::kLinkLost);
  // Every MakeCall completed exactly once: at its close, or by its answer.
  StopTapiDelivery();
  StartTapiDelivery(recordCompletion);
  {
    std::lock_guard lock(completionsLock);
    std::map<DRV_REQUESTID, int> times;
    for (const auto& [id, result] : completions) ++times[id];
    EXPECT_EQ(times.size(), 11u);
    for (const auto& [id, count] : times) EXPECT_EQ(count, 1) << id;
  }
  std::lock_guard lock(callTableLock);
  for (std::size_t i = 0; i < ListedLineCount(); ++i) {
    for (const CallSlot& slot : ListedLineAt(i)->slots) EXPECT_FALSE(slot.makeCallPending);
  }
}

}  // namespace
}  // namespace qv
