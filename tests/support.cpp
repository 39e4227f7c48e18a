#include "support.h"

namespace lvtest {

namespace {
constexpr std::uint32_t kValue = 0xA1B2C3D4u;
}

const std::vector<ExportCase>& allExports() {
    static const std::vector<ExportCase> cases = {
        {"LV_ZOLT_open", Op::open,
         [](LV_ZOLT_Handle, HostArea& a) {
             return LV_ZOLT_open(a.at<LV_ZOLT_Handle>(0), kValue, a.at<std::uint16_t>(10));
         },
         {}},
        {"LV_ZOLT_close", Op::close, [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_close(h); }, {}},
        {"LV_ZOLT_resetFirmware", Op::resetFirmware,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_resetFirmware(h); }, {}},
        {"LV_ZOLT_simEvent", Op::simEvent,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_simEvent(h); }, {}},
        {"LV_ZOLT_getDriver", Op::getDriver,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_getDriver(h, kValue); }, {}},
        {"LV_ZOLT_setOscillator", Op::setOscillator,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setOscillator(h, kValue); }, {}},
        {"LV_ZOLT_setPropDelayCorr", Op::setPropDelayCorr,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setPropDelayCorr(h, kValue); }, {}},
        {"LV_ZOLT_synchControl", Op::synchControl,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_synchControl(h, kValue); }, {}},
        {"LV_ZOLT_synchStatus", Op::synchStatus,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_synchStatus(h, kValue); }, {}},
        {"LV_ZOLT_getFirmware", Op::getFirmware,
         [](LV_ZOLT_Handle h, HostArea& a) { return LV_ZOLT_getFirmware(h, a.at<char>(1)); }, {}},
        {"LV_ZOLT_getFPGA", Op::getFPGA,
         [](LV_ZOLT_Handle h, HostArea& a) { return LV_ZOLT_getFPGA(h, a.at<char>(1)); }, {}},
        {"LV_ZOLT_getTime", Op::getTime,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_getTime(h, a.at<double>(8), a.at<std::uint8_t>(17),
                                    a.at<std::uint8_t>(19), a.at<std::uint16_t>(22));
         },
         {{8, 0, 8}, {17, 9, 1}, {19, 10, 1}, {22, 12, 2}}},
        {"LV_ZOLT_setTime", Op::setTime,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setTime(h, 1, 2, 3, 4, 5); }, {}},
        {"LV_ZOLT_getDate", Op::getDate,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_getDate(h, a.at<std::uint16_t>(2), a.at<std::uint8_t>(5),
                                    a.at<std::uint8_t>(7));
         },
         {{2, 0, 2}, {5, 2, 1}, {7, 3, 1}}},
        {"LV_ZOLT_setYear", Op::setYear,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setYear(h, 2026); }, {}},
        {"LV_ZOLT_getAltitude", Op::getAltitude,
         [](LV_ZOLT_Handle h, HostArea& a) { return LV_ZOLT_getAltitude(h, a.at<float>(4)); },
         {{4, 0, 4}}},
        {"LV_ZOLT_getLatitude", Op::getLatitude,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_getLatitude(h, a.at<std::int16_t>(2), a.at<float>(8));
         },
         {{2, 0, 2}, {8, 4, 4}}},
        {"LV_ZOLT_getLongitude", Op::getLongitude,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_getLongitude(h, a.at<std::int16_t>(2), a.at<float>(8));
         },
         {{2, 0, 2}, {8, 4, 4}}},
        {"LV_ZOLT_getSatInfo", Op::getSatInfo,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_getSatInfo(h, a.at<std::uint8_t>(3), a.at<std::uint8_t>(5));
         },
         {{3, 0, 1}, {5, 1, 1}}},
        {"LV_ZOLT_setHeartbeat", Op::setHeartbeat,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setHeartbeat(h, 1, 2, 3, 0.5); }, {}},
        {"LV_ZOLT_setMatchTime", Op::setMatchTime,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_setMatchTime(h, 1, 2.5, 3, 4, 5); },
         {}},
        {"LV_ZOLT_waitHeartbeat", Op::waitHeartbeat,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_waitHeartbeat(h, kValue); }, {}},
        {"LV_ZOLT_waitMatch", Op::waitMatch,
         [](LV_ZOLT_Handle h, HostArea&) { return LV_ZOLT_waitMatch(h, kValue); }, {}},
        {"LV_ZOLT_waitEvent", Op::waitEvent,
         [](LV_ZOLT_Handle h, HostArea& a) {
             return LV_ZOLT_waitEvent(h, a.at<double>(8), a.at<std::uint8_t>(17),
                                      a.at<std::uint8_t>(19), a.at<std::uint16_t>(22),
                                      a.at<std::uint16_t>(26), a.at<std::uint8_t>(29),
                                      a.at<std::uint8_t>(31), kValue);
         },
         {{8, 8, 8}, {17, 16, 1}, {19, 17, 1}, {22, 18, 2}, {26, 20, 2}, {29, 22, 1}, {31, 23, 1}}},
    };
    return cases;
}

}  // namespace lvtest
