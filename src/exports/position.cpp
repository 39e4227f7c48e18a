// Position queries: each unpacks the driver's storage field by field,
// whatever the status; latitude and longitude share one body.
#include "copy.h"

using namespace lvzolt;

namespace {

// The out-locations by reference, so that they are reloaded from the
// export's own arguments.
template <std::uint8_t (*Operation)(BoardRecord*, AngleRecord*)>
std::uint8_t angle(LV_ZOLT_Handle board, std::int16_t*& whole, float*& real) {
    AngleRecord record{};
    const std::uint8_t status = Operation(driverHandle(board), &record);
    reloadAfterCall(whole);
    reloadAfterCall(real);
    put(whole, record.whole);
    put(real, record.real);
    return status;
}

}  // namespace

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getAltitude(LV_ZOLT_Handle board, float* altitude) {
    AltitudeValue value{};
    const std::uint8_t status = ZOLT_getAltitude(driverHandle(board), &value);
    reloadAfterCall(altitude);
    put(altitude, value);
    return status;
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getLatitude(LV_ZOLT_Handle board, std::int16_t* whole,
                                                          float* real) {
    return angle<ZOLT_getLatitude>(board, whole, real);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getLongitude(LV_ZOLT_Handle board,
                                                           std::int16_t* whole, float* real) {
    return angle<ZOLT_getLongitude>(board, whole, real);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getSatInfo(LV_ZOLT_Handle board, std::uint8_t* info1,
                                                         std::uint8_t* info2) {
    SatRecord record{};
    const std::uint8_t status = ZOLT_getSatInfo(driverHandle(board), &record);
    reloadAfterCall(info1);
    reloadAfterCall(info2);
    put(info1, record.info1);
    put(info2, record.info2);
    return status;
}
}
