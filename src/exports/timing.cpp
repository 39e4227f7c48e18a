// Timing signals and waits: the setters pack their arguments, the plain waits
// hand over one value, waitEvent unpacks seven fields whatever the status.
#include "copy.h"

using namespace lvzolt;

namespace {

template <std::uint8_t (*Operation)(BoardRecord*, WaitRecord*)>
std::uint8_t wait(LV_ZOLT_Handle board, std::uint32_t value) {
    WaitRecord record{value};
    return Operation(driverHandle(board), &record);
}

}  // namespace

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setHeartbeat(LV_ZOLT_Handle board,
                                                           std::uint32_t byte0,
                                                           std::uint32_t byte1,
                                                           std::uint32_t byte2, double period) {
    HeartbeatRecord record{};
    record.byte0 = low8(byte0);
    record.byte1 = low8(byte1);
    record.byte2 = low8(byte2);
    putRealArgument(&record.period, period);
    return ZOLT_setHeartbeat(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setMatchTime(LV_ZOLT_Handle board,
                                                           std::uint32_t mode, double real,
                                                           std::uint32_t byte1,
                                                           std::uint32_t byte2,
                                                           std::uint32_t word) {
    MatchRecord record{};
    record.mode = low8(mode);
    putRealArgument(&record.real, real);
    record.byte1 = low8(byte1);
    record.byte2 = low8(byte2);
    record.word = low8(word);  // 8 bits from the host, zero-extended to 16
    return ZOLT_setMatchTime(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitHeartbeat(LV_ZOLT_Handle board,
                                                            std::uint32_t value) {
    return wait<ZOLT_waitHeartbeat>(board, value);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitMatch(LV_ZOLT_Handle board, std::uint32_t value) {
    return wait<ZOLT_waitMatch>(board, value);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitEvent(LV_ZOLT_Handle board, double* real,
                                                        std::uint8_t* byte1, std::uint8_t* byte2,
                                                        std::uint16_t* word, std::uint16_t* extra,
                                                        std::uint8_t* byte3, std::uint8_t* byte4,
                                                        std::uint32_t value) {
    EventRecord record{};
    record.wait = value;
    const std::uint8_t status = ZOLT_waitEvent(driverHandle(board), &record);
    reloadAfterCall(real);
    reloadAfterCall(byte1);
    reloadAfterCall(byte2);
    reloadAfterCall(word);
    reloadAfterCall(extra);
    reloadAfterCall(byte3);
    reloadAfterCall(byte4);
    put(real, record.real);
    put(byte1, record.byte1);
    put(byte2, record.byte2);
    put(word, record.word);
    put(extra, record.extra);
    put(byte3, record.byte3);
    put(byte4, record.byte4);
    return status;
}
}
