// Time and date: the getters unpack the driver's record whatever the status,
// setTime packs its arguments, setYear lends the driver its own argument.
#include "copy.h"

using namespace lvzolt;

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getTime(LV_ZOLT_Handle board, double* real,
                                                      std::uint8_t* byte1, std::uint8_t* byte2,
                                                      std::uint16_t* word) {
    TimeRecord record{};
    const std::uint8_t status = ZOLT_getTime(driverHandle(board), &record);
    reloadAfterCall(real);
    reloadAfterCall(byte1);
    reloadAfterCall(byte2);
    reloadAfterCall(word);
    put(real, record.real);
    put(byte1, record.byte1);
    put(byte2, record.byte2);
    put(word, record.word1);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setTime(LV_ZOLT_Handle board, std::uint32_t byte0,
                                                      std::uint32_t byte1, std::uint32_t byte2,
                                                      std::uint32_t word1, std::uint32_t word2) {
    TimeRecord record{};
    record.byte0 = low8(byte0);
    record.byte1 = low8(byte1);
    record.byte2 = low8(byte2);
    record.word1 = low16(word1);
    record.word2 = low16(word2);
    return ZOLT_setTime(driverHandle(board), &record);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getDate(LV_ZOLT_Handle board, std::uint16_t* word,
                                                      std::uint8_t* byte1, std::uint8_t* byte2) {
    DateRecord record{};
    const std::uint8_t status = ZOLT_getDate(driverHandle(board), &record);
    reloadAfterCall(word);
    reloadAfterCall(byte1);
    reloadAfterCall(byte2);
    put(word, record.word);
    put(byte1, record.byte1);
    put(byte2, record.byte2);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_setYear(LV_ZOLT_Handle board, std::uint32_t year) {
    // The argument is the export's own copy, so whatever the driver writes
    // there stays here.
    return ZOLT_setYear(driverHandle(board), &year);
}
}
