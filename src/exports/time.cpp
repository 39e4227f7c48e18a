// Time and date: the getters unpack the driver's record whatever the status,
// setTime packs its arguments, setYear lends the driver its own argument.
#include "copy.h"

using namespace lvzolt;

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getTime(LV_ZOLT_Handle board, double* real0,
                                                      std::uint8_t* byte9, std::uint8_t* byte10,
                                                      std::uint16_t* word12) {
    TimeRecord record{};
    const std::uint8_t status = ZOLT_getTime(driverHandle(board), &record);
    put(real0, record.real0);
    put(byte9, record.byte9);
    put(byte10, record.byte10);
    put(word12, record.word12);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setTime(LV_ZOLT_Handle board, std::uint32_t byte8,
                                                      std::uint32_t byte9, std::uint32_t byte10,
                                                      std::uint32_t word12, std::uint32_t word14) {
    TimeRecord record{};
    record.byte8 = low8(byte8);
    record.byte9 = low8(byte9);
    record.byte10 = low8(byte10);
    record.word12 = low16(word12);
    record.word14 = low16(word14);
    return ZOLT_setTime(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getDate(LV_ZOLT_Handle board, std::uint16_t* word0,
                                                      std::uint8_t* byte2, std::uint8_t* byte3) {
    DateRecord record{};
    const std::uint8_t status = ZOLT_getDate(driverHandle(board), &record);
    put(word0, record.word0);
    put(byte2, record.byte2);
    put(byte3, record.byte3);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setYear(LV_ZOLT_Handle board, std::uint32_t value0) {
    // The argument is the export's own copy, so whatever the driver writes
    // there stays here.
    return ZOLT_setYear(driverHandle(board), &value0);
}
}
