// Every export beside a direct call of its driver operation, as a host would
// make them: valid out-locations, and a board that the driver opened. Both
// the benchmark and the instruction-count program use this one list.
#pragma once

#include <cstdint>

#include "LV_zolt.h"
#include "driver/zolt.h"

namespace bench {

// The host's side of the export calls.
struct Host {
    LV_ZOLT_Handle board = 0;
    LV_ZOLT_Handle handle = 0;
    std::uint16_t boardValue = 0;
    char text[9] = {};
    double real = 0;
    float single = 0;
    std::int16_t whole = 0;
    std::uint8_t byte1 = 0, byte2 = 0, byte3 = 0, byte4 = 0;
    std::uint16_t word = 0, extra = 0;
};

// The caller's side of the direct driver calls: one record of each kind.
struct Direct {
    BoardRecord* board = nullptr;
    BoardRecord* handle = nullptr;
    IdBuffer id{};
    TimeRecord time{};
    DateRecord date{};
    YearValue year = 2024;
    AltitudeValue altitude = 0;
    AngleRecord angle{};
    SatRecord sat{};
    HeartbeatRecord heartbeat{};
    MatchRecord match{};
    WaitRecord wait{};
    EventRecord event{};
};

}  // namespace bench

// X(name, export call on Host h, driver call on Direct d), in the order of
// the header.
#define BENCH_CALLS(X)                                                                            \
    X(open, (LV_ZOLT_open(&h.handle, 7, &h.boardValue)), (ZOLT_open(&d.handle, 7)))               \
    X(close, (LV_ZOLT_close(h.board)), (ZOLT_close(d.board)))                                     \
    X(getDriver, (LV_ZOLT_getDriver(h.board, 7)), (ZOLT_getDriver(d.board, 7)))                   \
    X(resetFirmware, (LV_ZOLT_resetFirmware(h.board)), (ZOLT_resetFirmware(d.board)))             \
    X(setOscillator, (LV_ZOLT_setOscillator(h.board, 7)), (ZOLT_setOscillator(d.board, 7)))       \
    X(setPropDelayCorr, (LV_ZOLT_setPropDelayCorr(h.board, 7)),                                   \
      (ZOLT_setPropDelayCorr(d.board, 7)))                                                        \
    X(simEvent, (LV_ZOLT_simEvent(h.board)), (ZOLT_simEvent(d.board)))                            \
    X(synchControl, (LV_ZOLT_synchControl(h.board, 7)), (ZOLT_synchControl(d.board, 7)))          \
    X(synchStatus, (LV_ZOLT_synchStatus(h.board, 7)), (ZOLT_synchStatus(d.board, 7)))             \
    X(getFirmware, (LV_ZOLT_getFirmware(h.board, h.text)), (ZOLT_getFirmware(d.board, &d.id)))    \
    X(getFPGA, (LV_ZOLT_getFPGA(h.board, h.text)), (ZOLT_getFPGA(d.board, &d.id)))                \
    X(getTime, (LV_ZOLT_getTime(h.board, &h.real, &h.byte1, &h.byte2, &h.word)),                  \
      (ZOLT_getTime(d.board, &d.time)))                                                           \
    X(setTime, (LV_ZOLT_setTime(h.board, 1, 2, 3, 4, 5)), (ZOLT_setTime(d.board, &d.time)))       \
    X(getDate, (LV_ZOLT_getDate(h.board, &h.word, &h.byte1, &h.byte2)),                           \
      (ZOLT_getDate(d.board, &d.date)))                                                           \
    X(setYear, (LV_ZOLT_setYear(h.board, 2024)), (ZOLT_setYear(d.board, &d.year)))                \
    X(getAltitude, (LV_ZOLT_getAltitude(h.board, &h.single)),                                     \
      (ZOLT_getAltitude(d.board, &d.altitude)))                                                   \
    X(getLatitude, (LV_ZOLT_getLatitude(h.board, &h.whole, &h.single)),                           \
      (ZOLT_getLatitude(d.board, &d.angle)))                                                      \
    X(getLongitude, (LV_ZOLT_getLongitude(h.board, &h.whole, &h.single)),                         \
      (ZOLT_getLongitude(d.board, &d.angle)))                                                     \
    X(getSatInfo, (LV_ZOLT_getSatInfo(h.board, &h.byte1, &h.byte2)),                              \
      (ZOLT_getSatInfo(d.board, &d.sat)))                                                         \
    X(setHeartbeat, (LV_ZOLT_setHeartbeat(h.board, 1, 2, 3, 0.5)),                                \
      (ZOLT_setHeartbeat(d.board, &d.heartbeat)))                                                 \
    X(setMatchTime, (LV_ZOLT_setMatchTime(h.board, 1, 0.5, 2, 3, 4)),                             \
      (ZOLT_setMatchTime(d.board, &d.match)))                                                     \
    X(waitHeartbeat, (LV_ZOLT_waitHeartbeat(h.board, 7)), (ZOLT_waitHeartbeat(d.board, &d.wait))) \
    X(waitMatch, (LV_ZOLT_waitMatch(h.board, 7)), (ZOLT_waitMatch(d.board, &d.wait)))             \
    X(waitEvent,                                                                                  \
      (LV_ZOLT_waitEvent(h.board, &h.real, &h.byte1, &h.byte2, &h.word, &h.extra, &h.byte3,       \
                         &h.byte4, 7)),                                                           \
      (ZOLT_waitEvent(d.board, &d.event)))
