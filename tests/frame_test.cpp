// What every export shares: one driver call, the handle unchanged, the status
// byte unchanged, out-parameters at exactly their width and nowhere else.
#include "support.h"

namespace lvtest {
namespace {

constexpr std::uint8_t kStatuses[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFE, 0xFF};

class EveryExport : public ExportTest {};

TEST_F(EveryExport, MakesOneDriverCallWithTheHandleAndReturnsTheStatusByte) {
    FakeBoard board;
    FakeBoard closed;
    ASSERT_EQ(LV_ZOLT_close(closed.handle()), 0);  // a handle the driver has seen closed
    const LV_ZOLT_Handle handles[] = {0, 1, closed.handle(), board.handle(), ~LV_ZOLT_Handle{0}};
    for (const ExportCase& c : allExports()) {
        for (LV_ZOLT_Handle h : handles) {
            for (std::uint8_t status : kStatuses) {
                SCOPED_TRACE(testing::Message() << c.name << " handle " << h << " status "
                                                << int{status});
                recording::reset();
                recording::setStatus(c.op, status);
                recording::script(c.op).openHandle = board.handle();
                HostArea area;
                EXPECT_EQ(c.call(h, area), status);
                EXPECT_EQ(recording::arrival(c.op).calls, 1);
                EXPECT_EQ(recording::totalCalls(), 1);
                if (c.op != Op::open) {
                    EXPECT_EQ(recording::arrival(c.op).handle, h);
                }
            }
        }
    }
}

TEST_F(EveryExport, WritesEachOutParameterAtItsWidthAndNothingElse) {
    for (const ExportCase& c : allExports()) {
        if (c.op == Op::open || c.op == Op::getFirmware || c.op == Op::getFPGA) continue;
        for (std::uint8_t status : {std::uint8_t{0}, std::uint8_t{0x42}}) {
            SCOPED_TRACE(testing::Message() << c.name << " status " << int{status});
            recording::reset();
            recording::setStatus(c.op, status);
            const auto fill = fillPattern();
            recording::script(c.op).bytes = fill;
            HostArea area;
            HostArea expected;
            for (const Out& o : c.outs) {
                std::memcpy(expected.bytes.data() + o.host, fill.data() + o.record, o.width);
            }
            c.call(0x1234, area);
            EXPECT_EQ(area.bytes, expected.bytes);
        }
    }
}

// Every record starts cleared, so a failed call in which the driver wrote
// nothing hands out zeros rather than whatever the stack held.
TEST_F(EveryExport, HandsOutZerosWhenTheDriverFailsWithoutWriting) {
    for (const ExportCase& c : allExports()) {
        if (c.outs.empty()) continue;
        SCOPED_TRACE(c.name);
        recording::reset();
        recording::setStatus(c.op, 0x13);
        recording::script(c.op).fill = false;
        HostArea area;
        HostArea expected;
        for (const Out& o : c.outs) std::memset(expected.bytes.data() + o.host, 0, o.width);
        EXPECT_EQ(c.call(0x1234, area), 0x13);
        EXPECT_EQ(area.bytes, expected.bytes);
    }
}

// The status register's bits above the low byte never leak into the result.
TEST_F(EveryExport, DecidesOnTheLowByteAlone) {
    FakeBoard board;
    for (const ExportCase& c : allExports()) {
        SCOPED_TRACE(c.name);
        recording::reset();
        recording::script(c.op).statusRegister = 0xFFFFFF00u;  // status 0 under garbage
        recording::script(c.op).openHandle = board.handle();
        HostArea area;
        EXPECT_EQ(c.call(board.handle(), area), 0);
    }
}

struct ValueCase {
    Op op;
    std::uint8_t (*call)(LV_ZOLT_Handle, std::uint32_t);
};

TEST_F(EveryExport, PassesThirtyTwoBitValuesBitForBit) {
    const ValueCase cases[] = {
        {Op::getDriver, LV_ZOLT_getDriver},
        {Op::setOscillator, LV_ZOLT_setOscillator},
        {Op::setPropDelayCorr, LV_ZOLT_setPropDelayCorr},
        {Op::synchControl, LV_ZOLT_synchControl},
        {Op::synchStatus, LV_ZOLT_synchStatus},
        {Op::setYear, LV_ZOLT_setYear},
        {Op::waitHeartbeat, LV_ZOLT_waitHeartbeat},
        {Op::waitMatch, LV_ZOLT_waitMatch},
    };
    for (const ValueCase& c : cases) {
        for (std::uint32_t value : {0u, 1u, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
            SCOPED_TRACE(testing::Message() << recording::name(c.op) << " value " << value);
            recording::reset();
            EXPECT_EQ(c.call(7, value), 0);
            const auto& a = recording::arrival(c.op);
            if (a.size == 0) {
                EXPECT_EQ(a.value, value);
            } else {
                ASSERT_EQ(a.size, 4u);
                EXPECT_EQ(std::vector<std::uint8_t>(a.record.begin(), a.record.begin() + 4),
                          bytesOf(value));
            }
        }
    }
}

TEST_F(EveryExport, RemembersNothingBetweenCalls) {
    FakeBoard board;
    recording::setStatus(Op::close, 0);
    EXPECT_EQ(LV_ZOLT_close(board.handle()), 0);
    recording::setStatus(Op::close, 0x21);  // the driver's word on a second close
    EXPECT_EQ(LV_ZOLT_close(board.handle()), 0x21);
    EXPECT_EQ(recording::arrival(Op::close).calls, 2);
    EXPECT_EQ(recording::arrival(Op::close).handle, board.handle());
}

}  // namespace
}  // namespace lvtest
