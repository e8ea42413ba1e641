// Cutting the received byte stream into frames.
#include <gtest/gtest.h>

#include "session/csta_frame.h"

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

}  // namespace
}  // namespace qv
