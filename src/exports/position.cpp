// Position queries: each unpacks the driver's storage field by field,
// whatever the status; latitude and longitude share one body.
#include "copy.h"

using namespace lvzolt;

namespace {

template <std::uint8_t (*Operation)(BoardRecord*, AngleRecord*)>
std::uint8_t angle(LV_ZOLT_Handle board, std::int16_t* word0, float* real4) {
    AngleRecord record{};
    const std::uint8_t status = Operation(driverHandle(board), &record);
    put(word0, record.word0);
    put(real4, record.real4);
    return status;
}

}  // namespace

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getAltitude(LV_ZOLT_Handle board, float* real0) {
    AltitudeValue value{};
    const std::uint8_t status = ZOLT_getAltitude(driverHandle(board), &value);
    put(real0, value);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getLatitude(LV_ZOLT_Handle board, std::int16_t* word0,
                                                          float* real4) {
    return angle<ZOLT_getLatitude>(board, word0, real4);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getLongitude(LV_ZOLT_Handle board,
                                                           std::int16_t* word0, float* real4) {
    return angle<ZOLT_getLongitude>(board, word0, real4);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getSatInfo(LV_ZOLT_Handle board, std::uint8_t* byte0,
                                                         std::uint8_t* byte1) {
    SatRecord record{};
    const std::uint8_t status = ZOLT_getSatInfo(driverHandle(board), &record);
    put(byte0, record.byte0);
    put(byte1, record.byte1);
    return status;
}
}
