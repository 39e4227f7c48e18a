// Records exchanged with the zolt driver. Their layout is the driver's
// binary interface: every offset and size below is fixed and asserted, and the
// same on x86-64, i386 System V (where a double aligns to 4 inside a struct)
// and Win32 (where it aligns to 8). Gaps are spelled out as explicit bytes so
// that no layout depends on the target's alignment rules, and every record
// that holds a real is 8-aligned so that the driver finds it on the boundary
// it expects on every target. Multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// The driver's own record behind a board handle. The layer reads only the
// 16-bit board value at offset 4, and only after a successful open.
struct BoardRecord {
    std::uint8_t driverPrivate[4];
    std::uint16_t boardValue;
    // The driver's own fields follow; their size is the driver's.
};
static_assert(offsetof(BoardRecord, boardValue) == 4);

// Raw identifier bytes from ZOLT_getFirmware / ZOLT_getFPGA; bytes 0-2 are read.
struct IdBuffer {
    std::uint8_t bytes[12];
};
static_assert(sizeof(IdBuffer) == 12);

struct alignas(8) TimeRecord {
    double real;          // 0: filled by ZOLT_getTime
    std::uint8_t byte0;   // 8: set by LV_ZOLT_setTime only
    std::uint8_t byte1;   // 9
    std::uint8_t byte2;   // 10
    std::uint8_t unused;  // 11
    std::uint16_t word1;  // 12
    std::uint16_t word2;  // 14: set by LV_ZOLT_setTime only
};
static_assert(sizeof(TimeRecord) == 16 && alignof(TimeRecord) == 8);
static_assert(offsetof(TimeRecord, real) == 0);
static_assert(offsetof(TimeRecord, byte0) == 8);
static_assert(offsetof(TimeRecord, byte1) == 9);
static_assert(offsetof(TimeRecord, byte2) == 10);
static_assert(offsetof(TimeRecord, unused) == 11);
static_assert(offsetof(TimeRecord, word1) == 12);
static_assert(offsetof(TimeRecord, word2) == 14);

struct DateRecord {
    std::uint16_t word;  // 0
    std::uint8_t byte1;  // 2
    std::uint8_t byte2;  // 3
};
static_assert(sizeof(DateRecord) == 4);
static_assert(offsetof(DateRecord, word) == 0);
static_assert(offsetof(DateRecord, byte1) == 2);
static_assert(offsetof(DateRecord, byte2) == 3);

// ZOLT_setYear gets the address of a single 32-bit value, ZOLT_getAltitude
// that of a single 32-bit real; they are named here so that every operation
// has a record type.
using YearValue = std::uint32_t;
using AltitudeValue = float;
static_assert(sizeof(YearValue) == 4 && sizeof(AltitudeValue) == 4);

struct AngleRecord {
    std::int16_t whole;        // 0
    std::uint8_t unused[2];    // 2
    float real;                // 4
};
static_assert(sizeof(AngleRecord) == 8);
static_assert(offsetof(AngleRecord, whole) == 0);
static_assert(offsetof(AngleRecord, unused) == 2);
static_assert(offsetof(AngleRecord, real) == 4);

struct SatRecord {
    std::uint8_t info1;      // 0
    std::uint8_t info2;      // 1
    std::uint8_t unused[2];  // 2: provided, never read
};
static_assert(sizeof(SatRecord) == 4);
static_assert(offsetof(SatRecord, info1) == 0);
static_assert(offsetof(SatRecord, info2) == 1);

struct alignas(8) HeartbeatRecord {
    std::uint8_t byte0;      // 0
    std::uint8_t byte1;      // 1
    std::uint8_t byte2;      // 2
    std::uint8_t unused[5];  // 3
    double period;           // 8
};
static_assert(sizeof(HeartbeatRecord) == 16 && alignof(HeartbeatRecord) == 8);
static_assert(offsetof(HeartbeatRecord, byte0) == 0);
static_assert(offsetof(HeartbeatRecord, byte1) == 1);
static_assert(offsetof(HeartbeatRecord, byte2) == 2);
static_assert(offsetof(HeartbeatRecord, unused) == 3);
static_assert(offsetof(HeartbeatRecord, period) == 8);

struct alignas(8) MatchRecord {
    std::uint8_t mode;        // 0
    std::uint8_t unused[7];   // 1
    double real;              // 8: time quadruple from here
    std::uint8_t byte1;       // 16
    std::uint8_t byte2;       // 17
    std::uint16_t word;       // 18: the host's 8 bits, zero-extended
    std::uint8_t unused2[4];  // 20
};
static_assert(sizeof(MatchRecord) == 24 && alignof(MatchRecord) == 8);
static_assert(offsetof(MatchRecord, mode) == 0);
static_assert(offsetof(MatchRecord, unused) == 1);
static_assert(offsetof(MatchRecord, real) == 8);
static_assert(offsetof(MatchRecord, byte1) == 16);
static_assert(offsetof(MatchRecord, byte2) == 17);
static_assert(offsetof(MatchRecord, word) == 18);
static_assert(offsetof(MatchRecord, unused2) == 20);

struct WaitRecord {
    std::uint32_t wait;  // 0
};
static_assert(sizeof(WaitRecord) == 4);

struct alignas(8) EventRecord {
    std::uint32_t wait;      // 0: set before the call, not read back
    std::uint8_t unused[4];  // 4
    double real;             // 8: time quadruple from here
    std::uint8_t byte1;      // 16
    std::uint8_t byte2;      // 17
    std::uint16_t word;      // 18
    std::uint16_t extra;     // 20
    std::uint8_t byte3;      // 22
    std::uint8_t byte4;      // 23
};
static_assert(sizeof(EventRecord) == 24 && alignof(EventRecord) == 8);
static_assert(offsetof(EventRecord, wait) == 0);
static_assert(offsetof(EventRecord, unused) == 4);
static_assert(offsetof(EventRecord, real) == 8);
static_assert(offsetof(EventRecord, byte1) == 16);
static_assert(offsetof(EventRecord, byte2) == 17);
static_assert(offsetof(EventRecord, word) == 18);
static_assert(offsetof(EventRecord, extra) == 20);
static_assert(offsetof(EventRecord, byte3) == 22);
static_assert(offsetof(EventRecord, byte4) == 23);
