// The exports as a host that knows only 32-bit argument slots calls them: each
// through a function pointer whose parameters are all 32-bit unsigned slots,
// a 64-bit real as two slots (low half first), every 8- and 16-bit input with
// garbage above its bits, the result read as 8 bits. Reals never exist as
// reals on the host side, so nothing here can alter their bits. Checked: every
// record byte the driver receives, every host byte afterwards.
#include <utility>

#include "support.h"

namespace lvtest {
namespace {

static_assert(sizeof(void*) == 4, "the slot host is a 32-bit host");

using Slot = std::uint32_t;
using Slots = std::vector<Slot>;
using Bytes = std::vector<std::uint8_t>;
using AnyFunction = void (*)();

template <std::size_t>
using SlotAt = Slot;

template <std::size_t... I>
Slot callWith(AnyFunction fn, const Slot* s, std::index_sequence<I...>) {
    return reinterpret_cast<Slot (*)(SlotAt<I>...)>(fn)(s[I]...);
}

// One caller per number of slots, 0 to 9.
template <std::size_t... N>
constexpr auto callers(std::index_sequence<N...>) {
    return std::array<Slot (*)(AnyFunction, const Slot*), sizeof...(N)>{
        [](AnyFunction fn, const Slot* s) {
            return callWith(fn, s, std::make_index_sequence<N>{});
        }...};
}

// Calls fn with the slots as its whole argument list; the host reads the
// result as 8 bits.
std::uint8_t call(AnyFunction fn, const Slots& s) {
    static constexpr auto kCallers = callers(std::make_index_sequence<10>{});
    if (s.size() >= kCallers.size()) {
        ADD_FAILURE() << s.size() << " slots";
        return 0;
    }
    return static_cast<std::uint8_t>(kCallers[s.size()](fn, s.data()));
}

template <class F>
AnyFunction any(F* fn) {
    return reinterpret_cast<AnyFunction>(fn);
}

Slot low(std::uint64_t real) { return static_cast<Slot>(real); }
Slot high(std::uint64_t real) { return static_cast<Slot>(real >> 32); }

// Bit patterns a conversion, rounding or x87 load would alter: signalling
// NaNs with payloads, negative zero, subnormals, plus plain values.
constexpr std::uint64_t kDoubles[] = {
    0x7FF0000000000001ull, 0x7FF4000000000000ull, 0xFFF7FFFFFFFFFFFFull, 0x7FF8000000000001ull,
    0x8000000000000000ull, 0x0000000000000001ull, 0x800FFFFFFFFFFFFFull, 0x3FF0000000000000ull,
};
constexpr std::uint32_t kFloats[] = {
    0x7F800001u, 0xFFA00000u, 0x7FC00001u, 0x80000000u, 0x00000001u, 0x807FFFFFu, 0x3F800000u,
};

constexpr Slot kHandle = 0xB0A4D001u;  // reaches the driver unchanged, never dereferenced

// The slot that carries the address of a byte of the host area.
Slot address(HostArea& area, std::size_t offset) {
    return static_cast<Slot>(reinterpret_cast<std::uintptr_t>(area.bytes.data() + offset));
}

class SlotHost : public ExportTest {
   protected:
    HostArea area;
    Slot at(std::size_t offset) { return address(area, offset); }
    static Bytes arrived(Op op) {
        const auto& a = recording::arrival(op);
        return Bytes(a.record.begin(), a.record.begin() + static_cast<std::ptrdiff_t>(a.size));
    }
};

TEST_F(SlotHost, OpenFillsTheHandleSlotAndTheBoardValueOnlyOnSuccess) {
    FakeBoard board;
    board.bytes[4] = 0x34;
    board.bytes[5] = 0xB2;
    for (std::uint8_t status : {std::uint8_t{0}, std::uint8_t{0x81}}) {
        SCOPED_TRACE(int{status});
        recording::reset();
        recording::setStatus(Op::open, status);
        recording::script(Op::open).openHandle = board.handle();
        area.reset();
        EXPECT_EQ(call(any(LV_ZOLT_open), {at(9), 0xFEDCBA98u, at(21)}), status);
        EXPECT_EQ(recording::arrival(Op::open).value, 0xFEDCBA98u);
        HostArea expected;
        std::memcpy(expected.bytes.data() + 9, bytesOf(board.handle()).data(), 4);
        if (status == 0) {
            expected.bytes[21] = 0x34;
            expected.bytes[22] = 0xB2;
        }
        EXPECT_EQ(area.bytes, expected.bytes);
    }
}

TEST_F(SlotHost, PassThroughSlotsReachTheDriverWhole) {
    const struct {
        Op op;
        AnyFunction fn;
        bool value;
    } cases[] = {
        {Op::close, any(LV_ZOLT_close), false},
        {Op::resetFirmware, any(LV_ZOLT_resetFirmware), false},
        {Op::simEvent, any(LV_ZOLT_simEvent), false},
        {Op::getDriver, any(LV_ZOLT_getDriver), true},
        {Op::setOscillator, any(LV_ZOLT_setOscillator), true},
        {Op::setPropDelayCorr, any(LV_ZOLT_setPropDelayCorr), true},
        {Op::synchControl, any(LV_ZOLT_synchControl), true},
        {Op::synchStatus, any(LV_ZOLT_synchStatus), true},
    };
    for (const auto& c : cases) {
        for (Slot value : {0u, 0x80000001u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(testing::Message() << recording::name(c.op) << " " << value);
            recording::reset();
            recording::setStatus(c.op, static_cast<std::uint8_t>(value));
            const Slots slots = c.value ? Slots{kHandle, value} : Slots{kHandle};
            EXPECT_EQ(call(c.fn, slots), static_cast<std::uint8_t>(value));
            const auto& a = recording::arrival(c.op);
            EXPECT_EQ(a.calls, 1);
            EXPECT_EQ(a.handle, kHandle);
            EXPECT_EQ(a.value, c.value ? value : 0u);
            EXPECT_EQ(area.bytes, HostArea().bytes);
        }
    }
}

// Records built from slots: only the low 8 or 16 bits of each narrow slot
// arrive, at their offsets; every other byte is 0.
TEST_F(SlotHost, InputRecordsTakeOnlyTheLowBitsOfNarrowSlots) {
    const struct {
        const char* what;
        Op op;
        AnyFunction fn;
        Slots slots;
        Bytes record;
    } cases[] = {
        {"setTime",
         Op::setTime,
         any(LV_ZOLT_setTime),
         {kHandle, 0xFFFFFF11u, 0x00012222u, 0xABCDEF33u, 0xFFFF4455u, 0x80006677u},
         {0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0, 0x55, 0x44, 0x77, 0x66}},
        {"setHeartbeat",
         Op::setHeartbeat,
         any(LV_ZOLT_setHeartbeat),
         {kHandle, 0x12345601u, 0xFFFFFF02u, 0x00000103u, 0x55667788u, 0x11223344u},
         {1, 2, 3, 0, 0, 0, 0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {"setMatchTime",
         Op::setMatchTime,
         any(LV_ZOLT_setMatchTime),
         {kHandle, 0xDEADBE09u, 0x05060708u, 0x01020304u, 0xFFFFFF0Au, 0x0000010Bu, 0xFFFF12FFu},
         {9, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 0x0A, 0x0B, 0xFF, 0, 0, 0, 0, 0}},
        {"setYear",
         Op::setYear,
         any(LV_ZOLT_setYear),
         {kHandle, 0x800007EAu},
         {0xEA, 0x07, 0, 0x80}},
        {"waitHeartbeat",
         Op::waitHeartbeat,
         any(LV_ZOLT_waitHeartbeat),
         {kHandle, 0xFFFFFFFFu},
         {0xFF, 0xFF, 0xFF, 0xFF}},
        {"waitMatch", Op::waitMatch, any(LV_ZOLT_waitMatch), {kHandle, 0x04030201u}, {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        recording::reset();
        recording::setStatus(c.op, 0x5A);
        EXPECT_EQ(call(c.fn, c.slots), 0x5A);
        EXPECT_EQ(recording::arrival(c.op).handle, kHandle);
        EXPECT_EQ(arrived(c.op), c.record);
        EXPECT_EQ(area.bytes, HostArea().bytes);  // no out-parameters: nothing written
    }
}

TEST_F(SlotHost, RealsInTwoSlotsReachTheDriverBitForBit) {
    for (std::uint64_t bits : kDoubles) {
        SCOPED_TRACE(testing::Message() << std::hex << bits);
        Bytes heartbeat(16, 0);
        std::memcpy(heartbeat.data() + 8, &bits, 8);
        Bytes match(24, 0);
        std::memcpy(match.data() + 8, &bits, 8);
        recording::reset();
        call(any(LV_ZOLT_setHeartbeat), {kHandle, 0, 0, 0, low(bits), high(bits)});
        EXPECT_EQ(arrived(Op::setHeartbeat), heartbeat);
        call(any(LV_ZOLT_setMatchTime), {kHandle, 0, low(bits), high(bits), 0, 0, 0});
        EXPECT_EQ(arrived(Op::setMatchTime), match);
    }
}

// Out-parameters at odd host addresses: each gets exactly its record bytes,
// every other host byte keeps its canary, whatever the status.
struct OutCase {
    const char* what;
    Op op;
    AnyFunction fn;
    Slots (*slots)(HostArea&);
    std::vector<Out> outs;
    int real;  // index of the real among outs, -1 if none
};

class SlotOutputs : public SlotHost {
   protected:
    void check(const OutCase& c, const std::array<std::uint8_t, recording::kMaxRecord>& fill,
               std::uint8_t status, const Bytes& sent) {
        recording::reset();
        recording::setStatus(c.op, status);
        recording::script(c.op).bytes = fill;
        area.reset();
        EXPECT_EQ(call(c.fn, c.slots(area)), status);
        EXPECT_EQ(recording::arrival(c.op).handle, kHandle);
        EXPECT_EQ(arrived(c.op), sent);
        HostArea expected;
        for (const Out& o : c.outs) {
            std::memcpy(expected.bytes.data() + o.host, fill.data() + o.record, o.width);
        }
        EXPECT_EQ(area.bytes, expected.bytes);
    }
};

const OutCase kOutCases[] = {
    {"getTime",
     Op::getTime,
     any(LV_ZOLT_getTime),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 3), address(h, 13), address(h, 15), address(h, 17)};
     },
     {{3, 0, 8}, {13, 9, 1}, {15, 10, 1}, {17, 12, 2}},
     0},
    {"getDate",
     Op::getDate,
     any(LV_ZOLT_getDate),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 1), address(h, 5), address(h, 7)};
     },
     {{1, 0, 2}, {5, 2, 1}, {7, 3, 1}},
     -1},
    {"getAltitude",
     Op::getAltitude,
     any(LV_ZOLT_getAltitude),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 5)};
     },
     {{5, 0, 4}},
     0},
    {"getLatitude",
     Op::getLatitude,
     any(LV_ZOLT_getLatitude),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 1), address(h, 6)};
     },
     {{1, 0, 2}, {6, 4, 4}},
     1},
    {"getLongitude",
     Op::getLongitude,
     any(LV_ZOLT_getLongitude),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 11), address(h, 3)};
     },
     {{11, 0, 2}, {3, 4, 4}},
     1},
    {"getSatInfo",
     Op::getSatInfo,
     any(LV_ZOLT_getSatInfo),
     [](HostArea& h) {
         return Slots{kHandle, address(h, 2), address(h, 1)};
     },
     {{2, 0, 1}, {1, 1, 1}},
     -1},
    {"waitEvent",
     Op::waitEvent,
     any(LV_ZOLT_waitEvent),
     [](HostArea& h) {
         return Slots{kHandle,        address(h, 1),  address(h, 10),
                      address(h, 12), address(h, 14), address(h, 17),
                      address(h, 20), address(h, 22), 0xC0FFEE01u};
     },
     {{1, 8, 8}, {10, 16, 1}, {12, 17, 1}, {14, 18, 2}, {17, 20, 2}, {20, 22, 1}, {22, 23, 1}},
     0},
};

// What the driver receives with each output record: a cleared record, and in
// waitEvent's case the last slot in its first field.
Bytes sentWith(const OutCase& c) {
    Bytes sent(recording::recordSize(c.op), 0);
    if (c.op == Op::waitEvent)
        sent = {0x01, 0xEE, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return sent;
}

TEST_F(SlotOutputs, EveryOutputByteReachesTheHostAtItsWidthOnly) {
    for (const OutCase& c : kOutCases) {
        for (std::uint8_t status : {std::uint8_t{0}, std::uint8_t{0xFE}}) {
            SCOPED_TRACE(testing::Message() << c.what << " status " << int{status});
            check(c, fillPattern(), status, sentWith(c));
        }
    }
}

TEST_F(SlotOutputs, RealsReachTheHostBitForBit) {
    for (const OutCase& c : kOutCases) {
        if (c.real < 0) continue;
        const Out& real = c.outs[static_cast<std::size_t>(c.real)];
        auto fill = fillPattern();
        const auto run = [&](const auto& patterns) {
            if (sizeof patterns[0] != real.width) return;
            for (const auto bits : patterns) {
                SCOPED_TRACE(testing::Message() << c.what << " " << std::hex << bits);
                std::memcpy(fill.data() + real.record, &bits, sizeof bits);
                check(c, fill, 0, sentWith(c));
            }
        };
        run(kDoubles);
        run(kFloats);
    }
}

TEST_F(SlotHost, IdentificationTextFillsNineBytesOnSuccessOnly) {
    for (const auto& [op, fn] : {std::pair{Op::getFirmware, any(LV_ZOLT_getFirmware)},
                                 std::pair{Op::getFPGA, any(LV_ZOLT_getFPGA)}}) {
        for (std::uint8_t status : {std::uint8_t{0}, std::uint8_t{3}}) {
            SCOPED_TRACE(testing::Message() << recording::name(op) << " status " << int{status});
            recording::reset();
            recording::setStatus(op, status);
            recording::script(op).bytes = fillPattern(0xA0);
            area.reset();
            EXPECT_EQ(call(fn, {kHandle, at(3)}), status);
            EXPECT_EQ(recording::arrival(op).handle, kHandle);
            EXPECT_EQ(arrived(op), Bytes(recording::recordSize(op), 0));
            HostArea expected;
            if (status == 0) std::memcpy(expected.bytes.data() + 3, "A0-A1-A2", 9);
            EXPECT_EQ(area.bytes, expected.bytes);
        }
    }
}

}  // namespace
}  // namespace lvtest
