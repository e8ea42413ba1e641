// Cutting the received byte stream into frames.
#include <gtest/gtest.h>

#include "session/csta_frame.h"
#include "session/csta_profile.h"
#include "session/csta_requests.h"

namespace qv {
namespace {

std::string frameOf(std::uint32_t id, const std::string& xml) { return *BuildCstaFrame(id, xml); }

TEST(CstaFrameCutter, SevenBytesWaitForMore) {
  CstaFrameCutter cutter;
  CstaFrame frame;
  cutter.append(frameOf(1, "<a/>").substr(0, 7));
  EXPECT_EQ(cutter.next(frame), CstaFrameCutter::Status::needMore);
  EXPECT_EQ(cutter.buffered(), 7u);
}

TEST(CstaFrameCutter, FrameSplitAtEveryByteIsCutOnceComplete) {
  const std::string wire = frameOf(7, "<MakeCallResponse/>") + frameOf(8, "<x/>");
  CstaFrameCutter cutter;
  CstaFrame frame;
  std::vector<CstaFrame> got;
  for (char c : wire) {
    cutter.append(std::string_view(&c, 1));
    while (cutter.next(frame) == CstaFrameCutter::Status::frame) got.push_back(frame);
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].invokeId, 7u);
  EXPECT_EQ(got[0].xml, "<MakeCallResponse/>");
  EXPECT_EQ(got[1].invokeId, 8u);
  EXPECT_EQ(cutter.buffered(), 0u);
}

TEST(CstaFrameCutter, CoalescedFramesComeOutInOrder) {
  CstaFrameCutter cutter;
  cutter.append(frameOf(1, "<a/>") + frameOf(2, "") + frameOf(3, "<c/>") + frameOf(4, "<d").substr(0, 9));
  CstaFrame frame;
  std::vector<std::uint32_t> ids;
  while (cutter.next(frame) == CstaFrameCutter::Status::frame) ids.push_back(frame.invokeId);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(cutter.buffered(), 9u);
}

TEST(CstaFrameCutter, NonZeroReservedBytesMeanTheStreamIsOutOfStep) {
  for (int at : {0, 1}) {
    CstaFrameCutter cutter;
    std::string wire = frameOf(5, "<a/>");
    wire[at] = '\x01';
    cutter.append(frameOf(4, "<b/>") + wire);
    CstaFrame frame;
    ASSERT_EQ(cutter.next(frame), CstaFrameCutter::Status::frame) << "the frame before is still cut";
    EXPECT_EQ(cutter.next(frame), CstaFrameCutter::Status::outOfStep) << at;
    EXPECT_EQ(cutter.next(frame), CstaFrameCutter::Status::outOfStep) << "stays refused, never loops";
  }
}

TEST(CstaFrameCutter, LengthBelowHeaderCannotBeCut) {
  for (int length : {0, 1, 7}) {
    CstaFrameCutter cutter;
    std::string wire("\0\0\0\0\0\0\0\1<a/>", 12);
    wire[3] = static_cast<char>(length);
    cutter.append(wire);
    CstaFrame frame;
    EXPECT_EQ(cutter.next(frame), CstaFrameCutter::Status::badLength) << length;
    EXPECT_EQ(cutter.next(frame), CstaFrameCutter::Status::badLength) << "stays refused, never loops";
  }
}

TEST(CstaFrameCutter, BufferStaysBoundedAcrossManyFrames) {
  CstaFrameCutter cutter;
  const std::string one = frameOf(1, std::string(1000, 'x'));
  CstaFrame frame;
  for (int i = 0; i < 5000; ++i) {
    cutter.append(one.substr(0, 600));
    cutter.append(one.substr(600));
    ASSERT_EQ(cutter.next(frame), CstaFrameCutter::Status::frame);
  }
  EXPECT_EQ(cutter.buffered(), 0u);
}

// The four-digit profile: the header as written and read, the ids issued,
// and the namespaces of the requests.
TEST(CstaAsciiProfile, HeaderIdsAndNamespaces) {
  struct Case {
    std::uint32_t id;
    std::string header;
  };
  for (const Case& c : {Case{1, "0001"}, Case{42, "0042"}, Case{9998, "9998"}, Case{9999, "9999"}}) {
    Bytes frame = *BuildCstaFrame(c.id, "<a/>", InvokeIdFormat::kAscii);
    EXPECT_EQ(frame.substr(0, 4), std::string("\0\0\0\x0c", 4));
    EXPECT_EQ(frame.substr(4, 4), c.header);
    CstaFrameCutter cutter;
    cutter.setFormat(InvokeIdFormat::kAscii);
    cutter.append(frame);
    CstaFrame cut;
    ASSERT_EQ(cutter.next(cut), CstaFrameCutter::Status::frame);
    EXPECT_EQ(cut.invokeId, c.id);
    EXPECT_EQ(cut.xml, "<a/>");
  }
  CstaFrameCutter cutter;
  cutter.setFormat(InvokeIdFormat::kAscii);
  cutter.append(std::string("\0\0\0\x0c\x00\x00\x00\x07<a/>", 12));
  CstaFrame cut;
  ASSERT_EQ(cutter.next(cut), CstaFrameCutter::Status::frame);
  EXPECT_EQ(cut.invokeId, kAsciiEventInvokeId) << "a header that is no number reads as an event";
  EXPECT_EQ(BuildCstaFrame(7, "<a/>")->substr(4, 4), std::string("\0\0\0\x07", 4)) << "binary unchanged";

  EXPECT_EQ(NextInvokeId(InvokeIdFormat::kAscii, 9997), 9998u);
  EXPECT_EQ(NextInvokeId(InvokeIdFormat::kAscii, 9998), 1u);
  EXPECT_EQ(NextInvokeId(InvokeIdFormat::kBinary, 9998), 9999u);
  EXPECT_EQ(NextInvokeId(InvokeIdFormat::kBinary, 0xFFFFFFFFu), 0u);

  const std::string ed = "http://www.ecma-international.org/standards/ecma-323/csta/ed";
  SetCstaProfile(InvokeIdFormat::kAscii);
  EXPECT_EQ(ApplicationSessionNamespace(),
            "http://www.ecma-international.org/standards/ecma-354/appl_session");
  EXPECT_EQ(CstaRequestNamespace(), ed + "6") << "before the PBX chose";
  for (std::string v : {"3", "4", "5"}) {
    SetNegotiatedProtocolVersion(ed + v);
    EXPECT_EQ(CstaRequestNamespace(), ed + v);
    EXPECT_NE(MakeCallXml("201", "5", "").find("xmlns=\"" + ed + v + "\""), std::string::npos);
  }
  SetNegotiatedProtocolVersion("urn:other");
  EXPECT_EQ(CstaRequestNamespace(), ed + "6");
  SetNegotiatedProtocolVersion(ed + "5");
  SetCstaProfile(InvokeIdFormat::kBinary);
  SetNegotiatedProtocolVersion(ed + "5");
  EXPECT_EQ(CstaRequestNamespace(), ed + "6") << "binary keeps the first release's edition";
  EXPECT_EQ(ApplicationSessionNamespace(), kApplicationSessionNamespace);
  EXPECT_EQ(ParseInvokeIdFormat("ascii"), InvokeIdFormat::kAscii);
  EXPECT_EQ(ParseInvokeIdFormat("binary"), InvokeIdFormat::kBinary);
  EXPECT_FALSE(ParseInvokeIdFormat("ASCII"));
}

}  // namespace
}  // namespace qv
