// Packing and unpacking of the driver's records: which argument lands at
// which byte, narrow inputs with garbage above their bits, reals bit for bit,
// and overlapping out-pointers.
#include "support.h"

namespace lvtest {
namespace {

class Records : public ExportTest {};

using Bytes = std::vector<std::uint8_t>;

Bytes arrived(Op op) {
    const auto& a = recording::arrival(op);
    return Bytes(a.record.begin(), a.record.begin() + static_cast<std::ptrdiff_t>(a.size));
}

// The record bytes each input export hands the driver. Unset bytes are 0:
// every record is cleared before its fields are set.
TEST_F(Records, InputsLandAtTheirOffsetsUsingOnlyTheirLowBits) {
    struct Case {
        const char* what;
        Op op;
        std::uint8_t (*call)();
        Bytes record;
    };
    const Case cases[] = {
        {"setTime plain", Op::setTime, [] { return LV_ZOLT_setTime(1, 1, 2, 3, 0x0504, 0x0706); },
         {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0x04, 0x05, 0x06, 0x07}},
        {"setTime upper bits", Op::setTime,
         [] { return LV_ZOLT_setTime(1, 256, 0xFFFFFF01u, 0xABCDEF7Fu, 65543, 0xFFFF1234u); },
         {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 0x7F, 0, 0x07, 0x00, 0x34, 0x12}},
        {"setHeartbeat plain", Op::setHeartbeat,
         [] { return LV_ZOLT_setHeartbeat(1, 1, 2, 3, std::bit_cast<double>(0x1122334455667788ull)); },
         {1, 2, 3, 0, 0, 0, 0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {"setHeartbeat upper bits", Op::setHeartbeat,
         [] { return LV_ZOLT_setHeartbeat(1, 511, 0xFFFFFF02u, 0x12345603u, 0.0); },
         {0xFF, 0x02, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"setMatchTime plain", Op::setMatchTime,
         [] {
             return LV_ZOLT_setMatchTime(1, 9, std::bit_cast<double>(0x0102030405060708ull), 10,
                                         11, 255);
         },
         {9, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 10, 11, 255, 0, 0, 0, 0, 0}},
        {"setMatchTime 300 stores 44", Op::setMatchTime,
         [] { return LV_ZOLT_setMatchTime(1, 0x1FF, 0.0, 0x300, 0xFFFFFFFFu, 300); },
         {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 44, 0, 0, 0, 0, 0}},
        {"setMatchTime upper bits all set", Op::setMatchTime,
         [] { return LV_ZOLT_setMatchTime(1, 0, 0.0, 0, 0, 0xFFFFFF01u); },
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
        {"waitHeartbeat", Op::waitHeartbeat, [] { return LV_ZOLT_waitHeartbeat(1, 0xFFFFFFFFu); },
         {0xFF, 0xFF, 0xFF, 0xFF}},
        {"waitMatch", Op::waitMatch, [] { return LV_ZOLT_waitMatch(1, 0x04030201u); },
         {1, 2, 3, 4}},
        {"setYear", Op::setYear, [] { return LV_ZOLT_setYear(1, 0x000007EAu); },
         {0xEA, 0x07, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recording::reset();
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(arrived(c.op), c.record);
    }
}

TEST_F(Records, WaitEventSendsItsLastArgumentInTheFirstField) {
    HostArea area;
    for (std::uint32_t value : {0u, 0x01020304u, 0xFFFFFFFFu}) {
        recording::reset();
        LV_ZOLT_waitEvent(1, area.at<double>(8), area.at<std::uint8_t>(16),
                          area.at<std::uint8_t>(17), area.at<std::uint16_t>(18),
                          area.at<std::uint16_t>(20), area.at<std::uint8_t>(22),
                          area.at<std::uint8_t>(23), value);
        Bytes expected(24, 0);
        std::memcpy(expected.data(), &value, 4);
        EXPECT_EQ(arrived(Op::waitEvent), expected);
    }
}

TEST_F(Records, SetYearLendsTheDriverACopyThatTheHostNeverSees) {
    std::uint32_t year = 2026;
    recording::script(Op::setYear).bytes = fillPattern(0x90);  // the driver scribbles on it
    recording::setStatus(Op::setYear, 0x31);
    EXPECT_EQ(LV_ZOLT_setYear(1, year), 0x31);
    EXPECT_NE(recording::arrival(Op::setYear).address, nullptr);
    EXPECT_NE(recording::arrival(Op::setYear).address, static_cast<const void*>(&year));
    EXPECT_EQ(year, 2026u);
}

// Signalling and quiet NaNs with payloads, negative zero, subnormals,
// infinities: none may be quieted, rounded or normalised on the way.
constexpr std::uint64_t kDoublePatterns[] = {
    0x7FF0000000000001ull, 0x7FF4000000000000ull, 0xFFF0000000000001ull, 0x7FF7FFFFFFFFFFFFull,
    0x7FF8000000000000ull, 0xFFF8000000000001ull, 0x8000000000000000ull, 0x0000000000000001ull,
    0x800FFFFFFFFFFFFFull, 0x7FF0000000000000ull, 0x7FEFFFFFFFFFFFFFull, 0x3FF0000000000000ull,
};
constexpr std::uint32_t kFloatPatterns[] = {
    0x7F800001u, 0x7FA00000u, 0xFF800001u, 0x7FC00000u, 0xFFC00001u,
    0x80000000u, 0x00000001u, 0x807FFFFFu, 0xFF800000u, 0x3F800000u,
};

TEST_F(Records, RealsGoToTheDriverBitForBit) {
    for (std::uint64_t bits : kDoublePatterns) {
        SCOPED_TRACE(testing::Message() << std::hex << bits);
        const double real = std::bit_cast<double>(bits);
        const Bytes expected = bytesOf(bits);
        recording::reset();
        LV_ZOLT_setHeartbeat(1, 0, 0, 0, real);
        const Bytes heartbeat = arrived(Op::setHeartbeat);
        EXPECT_EQ(Bytes(heartbeat.begin() + 8, heartbeat.end()), expected);
        LV_ZOLT_setMatchTime(1, 0, real, 0, 0, 0);
        const Bytes match = arrived(Op::setMatchTime);
        EXPECT_EQ(Bytes(match.begin() + 8, match.begin() + 16), expected);
    }
}

TEST_F(Records, RealsComeBackToTheHostBitForBit) {
    HostArea area;
    for (std::uint64_t bits : kDoublePatterns) {
        SCOPED_TRACE(testing::Message() << std::hex << bits);
        recording::reset();
        std::memcpy(recording::script(Op::getTime).bytes.data(), &bits, 8);
        std::memcpy(recording::script(Op::waitEvent).bytes.data() + 8, &bits, 8);
        std::uint8_t b1, b2, b3, b4;
        std::uint16_t w1, w2;
        LV_ZOLT_getTime(1, area.at<double>(0), &b1, &b2, &w1);
        EXPECT_EQ(Bytes(area.bytes.begin(), area.bytes.begin() + 8), bytesOf(bits));
        LV_ZOLT_waitEvent(1, area.at<double>(8), &b1, &b2, &w1, &w2, &b3, &b4, 0);
        EXPECT_EQ(Bytes(area.bytes.begin() + 8, area.bytes.begin() + 16), bytesOf(bits));
    }
    for (std::uint32_t bits : kFloatPatterns) {
        SCOPED_TRACE(testing::Message() << std::hex << bits);
        recording::reset();
        std::memcpy(recording::script(Op::getAltitude).bytes.data(), &bits, 4);
        std::memcpy(recording::script(Op::getLatitude).bytes.data() + 4, &bits, 4);
        std::memcpy(recording::script(Op::getLongitude).bytes.data() + 4, &bits, 4);
        std::int16_t whole;
        LV_ZOLT_getAltitude(1, area.at<float>(0));
        LV_ZOLT_getLatitude(1, &whole, area.at<float>(4));
        LV_ZOLT_getLongitude(1, &whole, area.at<float>(8));
        for (std::ptrdiff_t at : {0, 4, 8}) {
            EXPECT_EQ(Bytes(area.bytes.begin() + at, area.bytes.begin() + at + 4), bytesOf(bits));
        }
    }
}

// With every out-pointer at one address, each store lands in argument order,
// so the bytes of the later arguments are the ones that remain.
TEST_F(Records, OverlappingOutPointersEndWithTheLaterArgument) {
    const auto fill = fillPattern(0x40);
    struct Case {
        const char* what;
        Op op;
        void (*call)(HostArea&);
        Bytes first8;  // host bytes 0-7 afterwards, from the record bytes named
    };
    auto r = [&](std::size_t i) { return fill[i]; };
    const Case cases[] = {
        {"getTime", Op::getTime,
         [](HostArea& a) {
             LV_ZOLT_getTime(1, a.at<double>(0), a.at<std::uint8_t>(0), a.at<std::uint8_t>(0),
                             a.at<std::uint16_t>(0));
         },
         {r(12), r(13), r(2), r(3), r(4), r(5), r(6), r(7)}},
        {"getDate", Op::getDate,
         [](HostArea& a) {
             LV_ZOLT_getDate(1, a.at<std::uint16_t>(0), a.at<std::uint8_t>(0),
                             a.at<std::uint8_t>(0));
         },
         {r(3), r(1), HostArea::canary(2), HostArea::canary(3), HostArea::canary(4),
          HostArea::canary(5), HostArea::canary(6), HostArea::canary(7)}},
        {"getLatitude", Op::getLatitude,
         [](HostArea& a) { LV_ZOLT_getLatitude(1, a.at<std::int16_t>(0), a.at<float>(0)); },
         {r(4), r(5), r(6), r(7), HostArea::canary(4), HostArea::canary(5), HostArea::canary(6),
          HostArea::canary(7)}},
        {"getSatInfo", Op::getSatInfo,
         [](HostArea& a) { LV_ZOLT_getSatInfo(1, a.at<std::uint8_t>(0), a.at<std::uint8_t>(0)); },
         {r(1), HostArea::canary(1), HostArea::canary(2), HostArea::canary(3),
          HostArea::canary(4), HostArea::canary(5), HostArea::canary(6), HostArea::canary(7)}},
        {"waitEvent", Op::waitEvent,
         [](HostArea& a) {
             LV_ZOLT_waitEvent(1, a.at<double>(0), a.at<std::uint8_t>(0), a.at<std::uint8_t>(0),
                               a.at<std::uint16_t>(0), a.at<std::uint16_t>(0),
                               a.at<std::uint8_t>(0), a.at<std::uint8_t>(0), 0);
         },
         {r(23), r(21), r(10), r(11), r(12), r(13), r(14), r(15)}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        recording::reset();
        recording::script(k.op).bytes = fill;
        HostArea area;
        k.call(area);
        EXPECT_EQ(Bytes(area.bytes.begin(), area.bytes.begin() + 8), k.first8);
    }
}

}  // namespace
}  // namespace lvtest
