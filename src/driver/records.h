// Records exchanged with the zolt driver. Their layout is the driver's
// binary interface: every offset and size below is fixed and asserted, and the
// same on x86-64, i386 System V (where a double aligns to 4 inside a struct)
// and Win32 (where it aligns to 8). Gaps are spelled out as explicit bytes so
// that no layout depends on the target's alignment rules, and every record
// that holds a real is 8-aligned so that the driver finds it on the boundary
// it expects on every target. Multi-byte fields are little-endian.
//
// Fields are named by kind and byte offset (real0, byte9, word12, value0):
// what a value means is the driver's, not the layer's. interface.h describes
// the same layouts as data.
#pragma once

#include <cstddef>
#include <cstdint>

// The driver's own record behind a board handle. The layer reads only the
// 16-bit value at offset 4, and only after a successful open.
struct BoardRecord {
    std::uint8_t driverPrivate[4];
    std::uint16_t word4;
    // The driver's own fields follow; their size is the driver's.
};
static_assert(offsetof(BoardRecord, word4) == 4);

// Raw identification bytes from ZOLT_getFirmware / ZOLT_getFPGA; bytes 0-2
// are read.
struct IdBuffer {
    std::uint8_t byte0;
    std::uint8_t byte1;
    std::uint8_t byte2;
    std::uint8_t unused3[9];
};
static_assert(sizeof(IdBuffer) == 12);
static_assert(offsetof(IdBuffer, byte1) == 1 && offsetof(IdBuffer, byte2) == 2);

struct alignas(8) TimeRecord {
    double real0;          // 0: time quadruple (read by getTime)
    std::uint8_t byte8;    // 8: set by setTime only
    std::uint8_t byte9;    // 9: time quadruple
    std::uint8_t byte10;   // 10: time quadruple
    std::uint8_t unused11; // 11
    std::uint16_t word12;  // 12: time quadruple
    std::uint16_t word14;  // 14: set by setTime only
};
static_assert(sizeof(TimeRecord) == 16 && alignof(TimeRecord) == 8);

struct DateRecord {
    std::uint16_t word0;
    std::uint8_t byte2;
    std::uint8_t byte3;
};
static_assert(sizeof(DateRecord) == 4);

// ZOLT_setYear gets the address of a single 32-bit value, ZOLT_getAltitude
// that of a single 32-bit real; they are named here so that every operation
// has a record type.
using YearValue = std::uint32_t;
using AltitudeValue = float;
static_assert(sizeof(YearValue) == 4 && sizeof(AltitudeValue) == 4);

struct AngleRecord {
    std::int16_t word0;
    std::uint8_t unused2[2];
    float real4;
};
static_assert(sizeof(AngleRecord) == 8);

struct SatRecord {
    std::uint8_t byte0;
    std::uint8_t byte1;
    std::uint8_t unused2[2];  // provided, never read
};
static_assert(sizeof(SatRecord) == 4);

struct alignas(8) HeartbeatRecord {
    std::uint8_t byte0;
    std::uint8_t byte1;
    std::uint8_t byte2;
    std::uint8_t unused3[5];
    double real8;
};
static_assert(sizeof(HeartbeatRecord) == 16 && alignof(HeartbeatRecord) == 8);

struct alignas(8) MatchRecord {
    std::uint8_t byte0;
    std::uint8_t unused1[7];
    double real8;               // 8: time quadruple from here
    std::uint8_t byte16;
    std::uint8_t byte17;
    std::uint16_t word18;       // the host's 8 bits, zero-extended
    std::uint8_t unused20[4];
};
static_assert(sizeof(MatchRecord) == 24 && alignof(MatchRecord) == 8);

struct WaitRecord {
    std::uint32_t value0;
};
static_assert(sizeof(WaitRecord) == 4);

struct alignas(8) EventRecord {
    std::uint32_t value0;      // set before the call, not read back
    std::uint8_t unused4[4];
    double real8;              // 8: time quadruple from here
    std::uint8_t byte16;
    std::uint8_t byte17;
    std::uint16_t word18;
    std::uint16_t word20;
    std::uint8_t byte22;
    std::uint8_t byte23;
};
static_assert(sizeof(EventRecord) == 24 && alignof(EventRecord) == 8);
