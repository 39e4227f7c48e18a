// A driver whose getTime calls its own getDate (defined in another source,
// so the call goes through the loader's name binding): a tracer loaded
// ahead of it must not capture that inner call. Every other operation
// succeeds and does nothing. getTime puts getDate's year into the day field,
// so that the host sees whether the inner call reached this driver's own
// getDate.
#include <cstdint>

#include "driver/zolt.h"

#if defined(_WIN32)
#define SELFCALL_API __declspec(dllexport)
#else
#define SELFCALL_API __attribute__((visibility("default")))
#endif

namespace {
BoardRecord theBoard{{0, 0, 0, 0}, 4321};
}

extern "C" {

SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord** board, std::uintptr_t) {
    *board = &theBoard;
    return 0;
}

SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_getTime(BoardRecord* board, TimeRecord* record) {
    DateRecord date{};
    const std::uint8_t status = ZOLT_getDate(board, &date);
    *record = TimeRecord{};
    record->word12 = date.word0;
    return status;
}

#define SELFCALL_HANDLE_ONLY(name) \
    SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*) { return 0; }
#define SELFCALL_VALUE(name) \
    SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, std::uint32_t) { return 0; }
#define SELFCALL_RECORD(name, Record) \
    SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, Record*) { return 0; }
ZOLT_HANDLE_ONLY_OPERATIONS(SELFCALL_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(SELFCALL_VALUE)
SELFCALL_RECORD(getFirmware, IdBuffer)
SELFCALL_RECORD(getFPGA, IdBuffer)
SELFCALL_RECORD(setTime, TimeRecord)
SELFCALL_RECORD(setYear, YearValue)
SELFCALL_RECORD(getAltitude, AltitudeValue)
SELFCALL_RECORD(getLatitude, AngleRecord)
SELFCALL_RECORD(getLongitude, AngleRecord)
SELFCALL_RECORD(getSatInfo, SatRecord)
SELFCALL_RECORD(setHeartbeat, HeartbeatRecord)
SELFCALL_RECORD(setMatchTime, MatchRecord)
SELFCALL_RECORD(waitHeartbeat, WaitRecord)
SELFCALL_RECORD(waitMatch, WaitRecord)
SELFCALL_RECORD(waitEvent, EventRecord)
}
