// LV_ZOLT_open: the handle output whatever the status, the board value only
// after success, read from byte 4 of the driver's board record.
#include "support.h"

namespace lvtest {
namespace {

class Open : public ExportTest {
protected:
    FakeBoard board;
    HostArea area;
    LV_ZOLT_Handle* handleOut() { return area.at<LV_ZOLT_Handle>(8); }
    std::uint16_t* valueOut() { return area.at<std::uint16_t>(20); }
    std::uint8_t open(std::uint32_t value = 0) { return LV_ZOLT_open(handleOut(), value, valueOut()); }
};

TEST_F(Open, SuccessDeliversTheHandleAndTheBoardValue) {
    board.bytes = {0x11, 0x22, 0x33, 0x44, 0xEF, 0xBE, 0x77, 0x88};  // value 0xBEEF: top bit set
    recording::script(Op::open).openHandle = board.handle();
    HostArea expected;
    std::memcpy(expected.bytes.data() + 8, bytesOf(board.handle()).data(), sizeof(LV_ZOLT_Handle));
    expected.bytes[20] = 0xEF;
    expected.bytes[21] = 0xBE;
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(area.bytes, expected.bytes);
    EXPECT_EQ(*valueOut(), 0xBEEF);
}

TEST_F(Open, FailureWritesTheHandleButLeavesTheBoardValueAndRecordAlone) {
    // An address that would fault if the layer read a board record after failure.
    const LV_ZOLT_Handle unreadable = 0x10;
    for (std::uint8_t status : {std::uint8_t{1}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
        recording::reset();
        recording::setStatus(Op::open, status);
        recording::script(Op::open).openHandle = unreadable;
        area.reset();
        HostArea expected;
        std::memcpy(expected.bytes.data() + 8, bytesOf(unreadable).data(), sizeof(LV_ZOLT_Handle));
        EXPECT_EQ(open(), status);
        EXPECT_EQ(area.bytes, expected.bytes);
    }
}

TEST_F(Open, HandsTheDriverACleanHandleVariableAndTheValueUnchanged) {
    for (std::uint32_t value : {0u, 3u, 0xFFFFFFFFu}) {
        recording::reset();
        recording::setStatus(Op::open, 9);
        recording::script(Op::open).fill = false;  // the driver writes nothing
        area.reset();
        HostArea expected;
        std::memset(expected.bytes.data() + 8, 0, sizeof(LV_ZOLT_Handle));
        EXPECT_EQ(open(value), 9);
        const auto& a = recording::arrival(Op::open);
        EXPECT_EQ(a.value, value);
        EXPECT_NE(a.address, nullptr);
        EXPECT_NE(a.address, static_cast<const void*>(handleOut()));  // the layer's own variable
        EXPECT_EQ(a.record, decltype(a.record){});
        EXPECT_EQ(area.bytes, expected.bytes);
    }
}

}  // namespace
}  // namespace lvtest
