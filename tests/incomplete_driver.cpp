// A driver that lacks one operation (ZOLT_waitEvent): the library must
// refuse to load beside it rather than fail at the first call.
#include <cstdint>

#include "driver/zolt.h"

#define INCOMPLETE_API __attribute__((visibility("default")))

extern "C" {

INCOMPLETE_API std::uint8_t ZOLT_open(BoardRecord**, std::uintptr_t) { return 1; }

#define INCOMPLETE_HANDLE_ONLY(name) \
    INCOMPLETE_API std::uint8_t ZOLT_##name(BoardRecord*) { return 1; }
#define INCOMPLETE_VALUE(name) \
    INCOMPLETE_API std::uint8_t ZOLT_##name(BoardRecord*, std::uint32_t) { return 1; }
#define INCOMPLETE_RECORD(name, Record) \
    INCOMPLETE_API std::uint8_t ZOLT_##name(BoardRecord*, Record*) { return 1; }

ZOLT_HANDLE_ONLY_OPERATIONS(INCOMPLETE_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(INCOMPLETE_VALUE)
INCOMPLETE_RECORD(getFirmware, IdBuffer)
INCOMPLETE_RECORD(getFPGA, IdBuffer)
INCOMPLETE_RECORD(getTime, TimeRecord)
INCOMPLETE_RECORD(setTime, TimeRecord)
INCOMPLETE_RECORD(getDate, DateRecord)
INCOMPLETE_RECORD(setYear, YearValue)
INCOMPLETE_RECORD(getAltitude, AltitudeValue)
INCOMPLETE_RECORD(getLatitude, AngleRecord)
INCOMPLETE_RECORD(getLongitude, AngleRecord)
INCOMPLETE_RECORD(getSatInfo, SatRecord)
INCOMPLETE_RECORD(setHeartbeat, HeartbeatRecord)
INCOMPLETE_RECORD(setMatchTime, MatchRecord)
INCOMPLETE_RECORD(waitHeartbeat, WaitRecord)
INCOMPLETE_RECORD(waitMatch, WaitRecord)
}
