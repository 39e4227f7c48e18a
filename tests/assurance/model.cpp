#include "model.h"

#include <cstdio>
#include <cstring>

namespace model {

namespace {

using U8 = std::uint8_t;
using U16 = std::uint16_t;
using I16 = std::int16_t;

// Shorthands for the table rows: an n-byte input filling an n-byte field,
// and an out-parameter copied from the record whatever the status.
In in(std::size_t arg, std::size_t offset, std::size_t width) { return {arg, offset, width, width}; }
Out copied(std::size_t arg, std::size_t offset, std::size_t width) {
    return {arg, From::record, offset, width, When::always};
}

}  // namespace

const std::vector<Export>& exports() {
    static const std::vector<Export> table = {
        {"LV_ZOLT_open", "ZOLT_open", Shape::open, kPointer, {},
         {{1, From::record, 0, kPointer, When::always}, {3, From::board, 4, 2, When::onSuccess}},
         [](const Call& c) { return LV_ZOLT_open(c.out<LV_ZOLT_Handle>(1), c.slot(2), c.out<U16>(3)); }},

        {"LV_ZOLT_close", "ZOLT_close", Shape::handleOnly, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_close(c.handle); }},
        {"LV_ZOLT_resetFirmware", "ZOLT_resetFirmware", Shape::handleOnly, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_resetFirmware(c.handle); }},
        {"LV_ZOLT_simEvent", "ZOLT_simEvent", Shape::handleOnly, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_simEvent(c.handle); }},
        {"LV_ZOLT_getDriver", "ZOLT_getDriver", Shape::value, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_getDriver(c.handle, c.slot(2)); }},
        {"LV_ZOLT_setOscillator", "ZOLT_setOscillator", Shape::value, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_setOscillator(c.handle, c.slot(2)); }},
        {"LV_ZOLT_setPropDelayCorr", "ZOLT_setPropDelayCorr", Shape::value, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_setPropDelayCorr(c.handle, c.slot(2)); }},
        {"LV_ZOLT_synchControl", "ZOLT_synchControl", Shape::value, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_synchControl(c.handle, c.slot(2)); }},
        {"LV_ZOLT_synchStatus", "ZOLT_synchStatus", Shape::value, 0, {}, {},
         [](const Call& c) { return LV_ZOLT_synchStatus(c.handle, c.slot(2)); }},

        // IdBuffer, 12 bytes: the driver fills it, bytes 0-2 become the text.
        {"LV_ZOLT_getFirmware", "ZOLT_getFirmware", Shape::record, 12, {},
         {{2, From::idText, 0, 9, When::onSuccess}},
         [](const Call& c) { return LV_ZOLT_getFirmware(c.handle, c.out<char>(2)); }},
        {"LV_ZOLT_getFPGA", "ZOLT_getFPGA", Shape::record, 12, {},
         {{2, From::idText, 0, 9, When::onSuccess}},
         [](const Call& c) { return LV_ZOLT_getFPGA(c.handle, c.out<char>(2)); }},

        // TimeRecord, 16 bytes: real 0, bytes 8, 9, 10, words 12, 14.
        {"LV_ZOLT_getTime", "ZOLT_getTime", Shape::record, 16, {},
         {copied(2, 0, 8), copied(3, 9, 1), copied(4, 10, 1), copied(5, 12, 2)},
         [](const Call& c) {
             return LV_ZOLT_getTime(c.handle, c.out<double>(2), c.out<U8>(3), c.out<U8>(4),
                                    c.out<U16>(5));
         }},
        {"LV_ZOLT_setTime", "ZOLT_setTime", Shape::record, 16,
         {in(2, 8, 1), in(3, 9, 1), in(4, 10, 1), in(5, 12, 2), in(6, 14, 2)}, {},
         [](const Call& c) {
             return LV_ZOLT_setTime(c.handle, c.slot(2), c.slot(3), c.slot(4), c.slot(5), c.slot(6));
         }},
        // DateRecord, 4 bytes: word 0, bytes 2 and 3.
        {"LV_ZOLT_getDate", "ZOLT_getDate", Shape::record, 4, {},
         {copied(2, 0, 2), copied(3, 2, 1), copied(4, 3, 1)},
         [](const Call& c) {
             return LV_ZOLT_getDate(c.handle, c.out<U16>(2), c.out<U8>(3), c.out<U8>(4));
         }},
        // The year: the address of the host's 32-bit value.
        {"LV_ZOLT_setYear", "ZOLT_setYear", Shape::record, 4, {in(2, 0, 4)}, {},
         [](const Call& c) { return LV_ZOLT_setYear(c.handle, c.slot(2)); }},

        // Altitude: one 32-bit real.
        {"LV_ZOLT_getAltitude", "ZOLT_getAltitude", Shape::record, 4, {}, {copied(2, 0, 4)},
         [](const Call& c) { return LV_ZOLT_getAltitude(c.handle, c.out<float>(2)); }},
        // AngleRecord, 8 bytes: 16-bit integer 0, real 4.
        {"LV_ZOLT_getLatitude", "ZOLT_getLatitude", Shape::record, 8, {},
         {copied(2, 0, 2), copied(3, 4, 4)},
         [](const Call& c) {
             return LV_ZOLT_getLatitude(c.handle, c.out<I16>(2), c.out<float>(3));
         }},
        {"LV_ZOLT_getLongitude", "ZOLT_getLongitude", Shape::record, 8, {},
         {copied(2, 0, 2), copied(3, 4, 4)},
         [](const Call& c) {
             return LV_ZOLT_getLongitude(c.handle, c.out<I16>(2), c.out<float>(3));
         }},
        // SatRecord, 4 bytes provided: bytes 0 and 1.
        {"LV_ZOLT_getSatInfo", "ZOLT_getSatInfo", Shape::record, 4, {},
         {copied(2, 0, 1), copied(3, 1, 1)},
         [](const Call& c) { return LV_ZOLT_getSatInfo(c.handle, c.out<U8>(2), c.out<U8>(3)); }},

        // HeartbeatRecord, 16 bytes: bytes 0, 1, 2, real 8.
        {"LV_ZOLT_setHeartbeat", "ZOLT_setHeartbeat", Shape::record, 16,
         {in(2, 0, 1), in(3, 1, 1), in(4, 2, 1), in(5, 8, 8)}, {},
         [](const Call& c) {
             return LV_ZOLT_setHeartbeat(c.handle, c.slot(2), c.slot(3), c.slot(4), c.real(5));
         }},
        // MatchRecord, 24 bytes: byte 0, real 8, bytes 16 and 17, and the
        // host's 8 bits widened into the 16-bit field at 18.
        {"LV_ZOLT_setMatchTime", "ZOLT_setMatchTime", Shape::record, 24,
         {in(2, 0, 1), in(3, 8, 8), in(4, 16, 1), in(5, 17, 1), {6, 18, 1, 2}}, {},
         [](const Call& c) {
             return LV_ZOLT_setMatchTime(c.handle, c.slot(2), c.real(3), c.slot(4), c.slot(5),
                                         c.slot(6));
         }},
        // WaitRecord, 4 bytes: the 32-bit value.
        {"LV_ZOLT_waitHeartbeat", "ZOLT_waitHeartbeat", Shape::record, 4, {in(2, 0, 4)}, {},
         [](const Call& c) { return LV_ZOLT_waitHeartbeat(c.handle, c.slot(2)); }},
        {"LV_ZOLT_waitMatch", "ZOLT_waitMatch", Shape::record, 4, {in(2, 0, 4)}, {},
         [](const Call& c) { return LV_ZOLT_waitMatch(c.handle, c.slot(2)); }},
        // EventRecord, 24 bytes: the last argument at 0; real 8, bytes 16
        // and 17, words 18 and 20, bytes 22 and 23 back to the host.
        {"LV_ZOLT_waitEvent", "ZOLT_waitEvent", Shape::record, 24, {in(9, 0, 4)},
         {copied(2, 8, 8), copied(3, 16, 1), copied(4, 17, 1), copied(5, 18, 2), copied(6, 20, 2),
          copied(7, 22, 1), copied(8, 23, 1)},
         [](const Call& c) {
             return LV_ZOLT_waitEvent(c.handle, c.out<double>(2), c.out<U8>(3), c.out<U8>(4),
                                      c.out<U16>(5), c.out<U16>(6), c.out<U8>(7), c.out<U8>(8),
                                      c.slot(9));
         }},
    };
    return table;
}

std::vector<std::uint8_t> arrival(const Export& e, const Call& c) {
    std::vector<std::uint8_t> record(e.recordSize, 0);
    for (const In& i : e.ins) {
        // Argument values are little-endian integers: byte k is bits 8k..8k+7.
        for (std::size_t k = 0; k < i.width; ++k) {
            record[i.offset + k] = static_cast<std::uint8_t>(c.args[i.arg] >> (8 * k));
        }
        for (std::size_t k = i.width; k < i.field; ++k) record[i.offset + k] = 0;
    }
    return record;
}

void hostWrites(const Export& e, const Call& c, std::uint8_t status,
                const std::vector<std::uint8_t>& record, const std::uint8_t* board,
                std::uint8_t* host) {
    for (const Out& o : e.outs) {
        if (o.when == When::onSuccess && status != 0) continue;
        std::uint8_t* to = host + c.outAt[o.arg];
        switch (o.from) {
            case From::record:
                std::memcpy(to, record.data() + o.offset, o.width);
                break;
            case From::board:
                std::memcpy(to, board + o.offset, o.width);
                break;
            case From::idText: {
                char text[9];
                std::snprintf(text, sizeof text, "%02X-%02X-%02X", unsigned{record[0]},
                              unsigned{record[1]}, unsigned{record[2]});
                std::memcpy(to, text, sizeof text);  // the 8 digits and hyphens, then the NUL
                break;
            }
        }
    }
}

}  // namespace model
