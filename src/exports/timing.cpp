// Timing signals and waits: the setters pack their arguments, the plain waits
// hand over one value, waitEvent unpacks seven fields whatever the status.
#include "copy.h"

using namespace lvzolt;

namespace {

template <std::uint8_t (*Operation)(BoardRecord*, WaitRecord*)>
std::uint8_t wait(LV_ZOLT_Handle board, std::uint32_t value0) {
    WaitRecord record{value0};
    return Operation(driverHandle(board), &record);
}

}  // namespace

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setHeartbeat(LV_ZOLT_Handle board,
                                                           std::uint32_t byte0,
                                                           std::uint32_t byte1,
                                                           std::uint32_t byte2, double real8) {
    HeartbeatRecord record{};
    record.byte0 = low8(byte0);
    record.byte1 = low8(byte1);
    record.byte2 = low8(byte2);
    putRealArgument(&record.real8, real8);
    return ZOLT_setHeartbeat(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setMatchTime(LV_ZOLT_Handle board,
                                                           std::uint32_t byte0, double real8,
                                                           std::uint32_t byte16,
                                                           std::uint32_t byte17,
                                                           std::uint32_t word18) {
    MatchRecord record{};
    record.byte0 = low8(byte0);
    putRealArgument(&record.real8, real8);
    record.byte16 = low8(byte16);
    record.byte17 = low8(byte17);
    record.word18 = low8(word18);  // 8 bits from the host, zero-extended to 16
    return ZOLT_setMatchTime(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitHeartbeat(LV_ZOLT_Handle board,
                                                            std::uint32_t value0) {
    return wait<ZOLT_waitHeartbeat>(board, value0);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitMatch(LV_ZOLT_Handle board, std::uint32_t value0) {
    return wait<ZOLT_waitMatch>(board, value0);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_waitEvent(LV_ZOLT_Handle board, double* real8,
                                                        std::uint8_t* byte16, std::uint8_t* byte17,
                                                        std::uint16_t* word18, std::uint16_t* word20,
                                                        std::uint8_t* byte22, std::uint8_t* byte23,
                                                        std::uint32_t value0) {
    EventRecord record{};
    record.value0 = value0;
    const std::uint8_t status = ZOLT_waitEvent(driverHandle(board), &record);
    put(real8, record.real8);
    put(byte16, record.byte16);
    put(byte17, record.byte17);
    put(word18, record.word18);
    put(word20, record.word20);
    put(byte22, record.byte22);
    put(byte23, record.byte23);
    return status;
}
}
