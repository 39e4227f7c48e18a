// The 24 zolt driver operations, grouped by what follows the board handle.
// The lists let the declarations and the stand-in drivers be written once per
// group instead of once per operation.
#pragma once

#include "records.h"

// Operations that take the board handle alone.
#define ZOLT_HANDLE_ONLY_OPERATIONS(X) X(close) X(resetFirmware) X(simEvent)

// Operations that take one 32-bit value after the board handle.
#define ZOLT_VALUE_OPERATIONS(X) \
    X(getDriver) X(setOscillator) X(setPropDelayCorr) X(synchControl) X(synchStatus)

// Operations that take the address of a record after the board handle.
#define ZOLT_RECORD_OPERATIONS(X)  \
    X(getFirmware, IdBuffer)       \
    X(getFPGA, IdBuffer)           \
    X(getTime, TimeRecord)         \
    X(setTime, TimeRecord)         \
    X(getDate, DateRecord)         \
    X(setYear, YearValue)          \
    X(getAltitude, AltitudeValue)  \
    X(getLatitude, AngleRecord)    \
    X(getLongitude, AngleRecord)   \
    X(getSatInfo, SatRecord)       \
    X(setHeartbeat, HeartbeatRecord) \
    X(setMatchTime, MatchRecord)   \
    X(waitHeartbeat, WaitRecord)   \
    X(waitMatch, WaitRecord)       \
    X(waitEvent, EventRecord)

// The driver's calling convention: the platform's default for exported
// functions, in which the caller removes the arguments.
#if defined(_WIN32)
#define ZOLT_CALL __cdecl
#else
#define ZOLT_CALL
#endif
