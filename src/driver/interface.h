// The driver interface as data: the 24 operations in the header's order, what
// each takes after the board handle, and for those that take a record, its
// size and the fields the layer sets before the call or reads after it. Bytes
// of a record that no "in" field covers are left unset by the layer: their
// content before the call means nothing. Field names follow the record
// offset ("real0", "byte9", "word12"); values carry no meaning here that the
// driver, not the layer, gives them.
//
// The tracing and replay drivers decode and match records with this table;
// records.h holds the same layouts as structs, and the asserts at the end
// keep the two equal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "operations.h"
#include "records.h"

namespace zolt {

enum class Kind : std::uint8_t { unsigned_integer, signed_integer, real };

// in: the layer sets the field before the call; out: the layer reads it after.
enum class Flow : std::uint8_t { in, out };

struct Field {
    std::string_view name;
    std::uint8_t offset;
    std::uint8_t width;  // bytes
    Kind kind;
    Flow flow;
    bool timeQuadruple;  // one of the four values of a time
};

// What follows the board handle in the operation's arguments.
enum class Shape : std::uint8_t {
    open,    // address of the handle variable, then a pointer-sized value
    handle,  // nothing
    value,   // a 32-bit value, passed through unchanged
    record,  // the address of a record the layer provides
};

struct Operation {
    std::string_view name;    // without ZOLT_ / LV_ZOLT_
    Shape shape;
    std::string_view record;  // the record type, for Shape::record
    std::uint8_t size;        // bytes of the record the layer provides
    std::span<const Field> fields;
    bool outputOnSuccessOnly;  // the layer reads the outputs only after status 0
};

inline constexpr std::size_t kMaxRecordSize = 24;

namespace fields {
using enum Kind;
using enum Flow;
inline constexpr Field open[] = {{"word4", 4, 2, unsigned_integer, out, false}};
inline constexpr Field identification[] = {
    {"byte0", 0, 1, unsigned_integer, out, false},
    {"byte1", 1, 1, unsigned_integer, out, false},
    {"byte2", 2, 1, unsigned_integer, out, false}};
inline constexpr Field getTime[] = {{"real0", 0, 8, real, out, true},
                                    {"byte9", 9, 1, unsigned_integer, out, true},
                                    {"byte10", 10, 1, unsigned_integer, out, true},
                                    {"word12", 12, 2, unsigned_integer, out, true}};
inline constexpr Field setTime[] = {{"byte8", 8, 1, unsigned_integer, in, false},
                                    {"byte9", 9, 1, unsigned_integer, in, false},
                                    {"byte10", 10, 1, unsigned_integer, in, false},
                                    {"word12", 12, 2, unsigned_integer, in, false},
                                    {"word14", 14, 2, unsigned_integer, in, false}};
inline constexpr Field getDate[] = {{"word0", 0, 2, unsigned_integer, out, false},
                                    {"byte2", 2, 1, unsigned_integer, out, false},
                                    {"byte3", 3, 1, unsigned_integer, out, false}};
inline constexpr Field setYear[] = {{"value0", 0, 4, unsigned_integer, in, false}};
inline constexpr Field getAltitude[] = {{"real0", 0, 4, real, out, false}};
inline constexpr Field angle[] = {{"word0", 0, 2, signed_integer, out, false},
                                  {"real4", 4, 4, real, out, false}};
inline constexpr Field getSatInfo[] = {{"byte0", 0, 1, unsigned_integer, out, false},
                                       {"byte1", 1, 1, unsigned_integer, out, false}};
inline constexpr Field setHeartbeat[] = {{"byte0", 0, 1, unsigned_integer, in, false},
                                         {"byte1", 1, 1, unsigned_integer, in, false},
                                         {"byte2", 2, 1, unsigned_integer, in, false},
                                         {"real8", 8, 8, real, in, false}};
inline constexpr Field setMatchTime[] = {{"byte0", 0, 1, unsigned_integer, in, false},
                                         {"real8", 8, 8, real, in, true},
                                         {"byte16", 16, 1, unsigned_integer, in, true},
                                         {"byte17", 17, 1, unsigned_integer, in, true},
                                         {"word18", 18, 2, unsigned_integer, in, true}};
inline constexpr Field wait[] = {{"value0", 0, 4, unsigned_integer, in, false}};
inline constexpr Field waitEvent[] = {{"value0", 0, 4, unsigned_integer, in, false},
                                      {"real8", 8, 8, real, out, true},
                                      {"byte16", 16, 1, unsigned_integer, out, true},
                                      {"byte17", 17, 1, unsigned_integer, out, true},
                                      {"word18", 18, 2, unsigned_integer, out, true},
                                      {"word20", 20, 2, unsigned_integer, out, false},
                                      {"byte22", 22, 1, unsigned_integer, out, false},
                                      {"byte23", 23, 1, unsigned_integer, out, false}};
}  // namespace fields

// In the order of the public header.
inline constexpr std::array<Operation, 24> operations{{
    // open's field is in the driver's BoardRecord behind the new handle.
    {"open", Shape::open, "BoardRecord", 0, fields::open, true},
    {"close", Shape::handle, {}, 0, {}, false},
    {"getDriver", Shape::value, {}, 0, {}, false},
    {"resetFirmware", Shape::handle, {}, 0, {}, false},
    {"setOscillator", Shape::value, {}, 0, {}, false},
    {"setPropDelayCorr", Shape::value, {}, 0, {}, false},
    {"simEvent", Shape::handle, {}, 0, {}, false},
    {"synchControl", Shape::value, {}, 0, {}, false},
    {"synchStatus", Shape::value, {}, 0, {}, false},
    {"getFirmware", Shape::record, "IdBuffer", 12, fields::identification, true},
    {"getFPGA", Shape::record, "IdBuffer", 12, fields::identification, true},
    {"getTime", Shape::record, "TimeRecord", 16, fields::getTime, false},
    {"setTime", Shape::record, "TimeRecord", 16, fields::setTime, false},
    {"getDate", Shape::record, "DateRecord", 4, fields::getDate, false},
    {"setYear", Shape::record, "YearValue", 4, fields::setYear, false},
    {"getAltitude", Shape::record, "AltitudeValue", 4, fields::getAltitude, false},
    {"getLatitude", Shape::record, "AngleRecord", 8, fields::angle, false},
    {"getLongitude", Shape::record, "AngleRecord", 8, fields::angle, false},
    {"getSatInfo", Shape::record, "SatRecord", 4, fields::getSatInfo, false},
    {"setHeartbeat", Shape::record, "HeartbeatRecord", 16, fields::setHeartbeat, false},
    {"setMatchTime", Shape::record, "MatchRecord", 24, fields::setMatchTime, false},
    {"waitHeartbeat", Shape::record, "WaitRecord", 4, fields::wait, false},
    {"waitMatch", Shape::record, "WaitRecord", 4, fields::wait, false},
    {"waitEvent", Shape::record, "EventRecord", 24, fields::waitEvent, false},
}};

constexpr std::optional<std::size_t> operationIndex(std::string_view name) {
    for (std::size_t i = 0; i < operations.size(); ++i)
        if (operations[i].name == name) return i;
    return std::nullopt;
}

// Bit i set: record byte i is covered by a field of that flow.
constexpr std::uint32_t byteMask(const Operation& op, Flow flow) {
    std::uint32_t mask = 0;
    if (op.shape != Shape::record) return 0;
    for (const Field& f : op.fields)
        if (f.flow == flow)
            for (unsigned b = f.offset; b < f.offset + f.width; ++b) mask |= 1u << b;
    return mask;
}

// Bytes of the record the layer leaves unset before the call.
constexpr std::uint32_t unsetMask(const Operation& op) {
    const std::uint32_t all = op.size == 32 ? ~0u : (1u << op.size) - 1u;
    return all & ~byteMask(op, Flow::in);
}

namespace detail {
// The X-macro lists of operations.h name the same 24 operations.
#define ZOLT_INTERFACE_NAME_1(name) #name,
#define ZOLT_INTERFACE_NAME_2(name, Record) #name,
inline constexpr std::string_view listed[] = {
    "open", ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_INTERFACE_NAME_1)
                ZOLT_VALUE_OPERATIONS(ZOLT_INTERFACE_NAME_1)
                    ZOLT_RECORD_OPERATIONS(ZOLT_INTERFACE_NAME_2)};
#undef ZOLT_INTERFACE_NAME_1
#undef ZOLT_INTERFACE_NAME_2

constexpr bool sameOperations() {
    if (std::size(listed) != operations.size()) return false;
    for (std::string_view name : listed)
        if (!operationIndex(name)) return false;
    return true;
}

#define ZOLT_INTERFACE_SIZE(name, Record) \
    (operations[*operationIndex(#name)].size == sizeof(Record)) &&
constexpr bool sameSizes() { return ZOLT_RECORD_OPERATIONS(ZOLT_INTERFACE_SIZE) true; }
#undef ZOLT_INTERFACE_SIZE

constexpr bool fieldsFit() {
    for (const Operation& op : operations) {
        std::uint32_t seen[2] = {0, 0};
        for (const Field& f : op.fields) {
            if (op.shape == Shape::record && f.offset + f.width > op.size) return false;
            for (unsigned b = f.offset; b < f.offset + f.width; ++b) {
                const auto flow = static_cast<unsigned>(f.flow);
                if (seen[flow] & (1u << b)) return false;
                seen[flow] |= 1u << b;
            }
        }
    }
    return true;
}
}  // namespace detail

static_assert(detail::sameOperations());
static_assert(detail::sameSizes());
static_assert(detail::fieldsFit());

// Every field of the table is the records.h member of the same name, at the
// same offset, of the same width and kind; no table has a field more.
namespace detail {
template <class T>
inline constexpr Kind kindOf = std::is_floating_point_v<T> ? Kind::real
                               : std::is_signed_v<T>       ? Kind::signed_integer
                                                           : Kind::unsigned_integer;
template <class Member>
constexpr bool same(const Field& f, std::string_view name, std::size_t offset) {
    return f.name == name && f.offset == offset && f.width == sizeof(Member) &&
           f.kind == kindOf<Member>;
}
}  // namespace detail
#define ZOLT_INTERFACE_FIELD(table, index, Record, member)                                  \
    static_assert(detail::same<decltype(Record::member)>(fields::table[index], #member,    \
                                                         offsetof(Record, member)),         \
                  #table " field " #index " is not " #Record "::" #member)
ZOLT_INTERFACE_FIELD(open, 0, BoardRecord, word4);
ZOLT_INTERFACE_FIELD(identification, 0, IdBuffer, byte0);
ZOLT_INTERFACE_FIELD(identification, 1, IdBuffer, byte1);
ZOLT_INTERFACE_FIELD(identification, 2, IdBuffer, byte2);
ZOLT_INTERFACE_FIELD(getTime, 0, TimeRecord, real0);
ZOLT_INTERFACE_FIELD(getTime, 1, TimeRecord, byte9);
ZOLT_INTERFACE_FIELD(getTime, 2, TimeRecord, byte10);
ZOLT_INTERFACE_FIELD(getTime, 3, TimeRecord, word12);
ZOLT_INTERFACE_FIELD(setTime, 0, TimeRecord, byte8);
ZOLT_INTERFACE_FIELD(setTime, 1, TimeRecord, byte9);
ZOLT_INTERFACE_FIELD(setTime, 2, TimeRecord, byte10);
ZOLT_INTERFACE_FIELD(setTime, 3, TimeRecord, word12);
ZOLT_INTERFACE_FIELD(setTime, 4, TimeRecord, word14);
ZOLT_INTERFACE_FIELD(getDate, 0, DateRecord, word0);
ZOLT_INTERFACE_FIELD(getDate, 1, DateRecord, byte2);
ZOLT_INTERFACE_FIELD(getDate, 2, DateRecord, byte3);
ZOLT_INTERFACE_FIELD(angle, 0, AngleRecord, word0);
ZOLT_INTERFACE_FIELD(angle, 1, AngleRecord, real4);
ZOLT_INTERFACE_FIELD(getSatInfo, 0, SatRecord, byte0);
ZOLT_INTERFACE_FIELD(getSatInfo, 1, SatRecord, byte1);
ZOLT_INTERFACE_FIELD(setHeartbeat, 0, HeartbeatRecord, byte0);
ZOLT_INTERFACE_FIELD(setHeartbeat, 1, HeartbeatRecord, byte1);
ZOLT_INTERFACE_FIELD(setHeartbeat, 2, HeartbeatRecord, byte2);
ZOLT_INTERFACE_FIELD(setHeartbeat, 3, HeartbeatRecord, real8);
ZOLT_INTERFACE_FIELD(setMatchTime, 0, MatchRecord, byte0);
ZOLT_INTERFACE_FIELD(setMatchTime, 1, MatchRecord, real8);
ZOLT_INTERFACE_FIELD(setMatchTime, 2, MatchRecord, byte16);
ZOLT_INTERFACE_FIELD(setMatchTime, 3, MatchRecord, byte17);
ZOLT_INTERFACE_FIELD(setMatchTime, 4, MatchRecord, word18);
ZOLT_INTERFACE_FIELD(wait, 0, WaitRecord, value0);
ZOLT_INTERFACE_FIELD(waitEvent, 0, EventRecord, value0);
ZOLT_INTERFACE_FIELD(waitEvent, 1, EventRecord, real8);
ZOLT_INTERFACE_FIELD(waitEvent, 2, EventRecord, byte16);
ZOLT_INTERFACE_FIELD(waitEvent, 3, EventRecord, byte17);
ZOLT_INTERFACE_FIELD(waitEvent, 4, EventRecord, word18);
ZOLT_INTERFACE_FIELD(waitEvent, 5, EventRecord, word20);
ZOLT_INTERFACE_FIELD(waitEvent, 6, EventRecord, byte22);
ZOLT_INTERFACE_FIELD(waitEvent, 7, EventRecord, byte23);
#undef ZOLT_INTERFACE_FIELD
// The single values of setYear and getAltitude have no members.
static_assert(detail::same<YearValue>(fields::setYear[0], "value0", 0));
static_assert(detail::same<AltitudeValue>(fields::getAltitude[0], "real0", 0));
static_assert(std::size(fields::open) == 1 && std::size(fields::identification) == 3 &&
              std::size(fields::getTime) == 4 && std::size(fields::setTime) == 5 &&
              std::size(fields::getDate) == 3 && std::size(fields::setYear) == 1 &&
              std::size(fields::getAltitude) == 1 && std::size(fields::angle) == 2 &&
              std::size(fields::getSatInfo) == 2 && std::size(fields::setHeartbeat) == 4 &&
              std::size(fields::setMatchTime) == 5 && std::size(fields::wait) == 1 &&
              std::size(fields::waitEvent) == 8);

}  // namespace zolt
