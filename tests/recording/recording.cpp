#include "recording.h"

#include <algorithm>
#include <cstring>

namespace recording {
namespace {

std::array<Arrival, kOperationCount> arrivals;
std::array<Script, kOperationCount> scripts;

std::size_t index(Op op) { return static_cast<std::size_t>(op); }

constexpr std::array<std::size_t, kOperationCount> kSizes = [] {
    std::array<std::size_t, kOperationCount> sizes{};
    sizes[static_cast<std::size_t>(Op::open)] = sizeof(void*);
#define RECORDING_SIZE(name, Record) sizes[static_cast<std::size_t>(Op::name)] = sizeof(Record);
    ZOLT_RECORD_OPERATIONS(RECORDING_SIZE)
#undef RECORDING_SIZE
    return sizes;
}();

constexpr const char* kNames[] = {
    "ZOLT_open",
#define RECORDING_NAME_1(name) "ZOLT_" #name,
#define RECORDING_NAME_2(name, Record) "ZOLT_" #name,
    ZOLT_HANDLE_ONLY_OPERATIONS(RECORDING_NAME_1) ZOLT_VALUE_OPERATIONS(RECORDING_NAME_1)
        ZOLT_RECORD_OPERATIONS(RECORDING_NAME_2)
#undef RECORDING_NAME_1
#undef RECORDING_NAME_2
};
static_assert(std::size(kNames) == kOperationCount);

// Records the call and, for record operations, copies the record in and the
// scripted bytes out.
std::uint32_t answer(Op op, std::uintptr_t handle, std::uintptr_t value, void* record) {
    Arrival& a = arrivals[index(op)];
    const Script& s = scripts[index(op)];
    ++a.calls;
    a.handle = handle;
    a.value = value;
    a.address = record;
    const bool spanned = s.span != 0 && op != Op::open;
    a.size = !record ? 0 : spanned ? std::min(s.span, kMaxRecord) : kSizes[index(op)];
    a.record.fill(0);
    if (record) {
        std::memcpy(a.record.data(), record, a.size);
        // open's "record" is the handle variable; it receives openHandle.
        const void* from = op == Op::open ? static_cast<const void*>(&s.openHandle) : s.bytes.data();
        if (s.fill) std::memcpy(record, from, a.size);
    }
    return s.statusRegister;
}

}  // namespace

void reset() {
    arrivals = {};
    scripts = {};
}
Script& script(Op op) { return scripts[index(op)]; }
const Arrival& arrival(Op op) { return arrivals[index(op)]; }
std::size_t recordSize(Op op) { return kSizes[index(op)]; }
const char* name(Op op) { return kNames[index(op)]; }
int totalCalls() {
    int total = 0;
    for (const Arrival& a : arrivals) total += a.calls;
    return total;
}

}  // namespace recording

using recording::Op;

// The driver's operations, each returning a whole status register so that
// the layer's use of the low byte alone is exercised.
extern "C" {

RECORDING_API std::uint32_t ZOLT_CALL ZOLT_open(void** board, std::uintptr_t value) {
    return recording::answer(Op::open, 0, value, board);
}

#define RECORDING_HANDLE_ONLY(name)                                              \
    RECORDING_API std::uint32_t ZOLT_CALL ZOLT_##name(std::uintptr_t board) {    \
        return recording::answer(Op::name, board, 0, nullptr);                  \
    }
#define RECORDING_VALUE(name)                                                    \
    RECORDING_API std::uint32_t ZOLT_CALL ZOLT_##name(std::uintptr_t board,      \
                                                      std::uint32_t value) {     \
        return recording::answer(Op::name, board, value, nullptr);              \
    }
#define RECORDING_RECORD(name, Record)                                           \
    RECORDING_API std::uint32_t ZOLT_CALL ZOLT_##name(std::uintptr_t board,      \
                                                      Record* record) {          \
        return recording::answer(Op::name, board, 0, record);                   \
    }

ZOLT_HANDLE_ONLY_OPERATIONS(RECORDING_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(RECORDING_VALUE)
ZOLT_RECORD_OPERATIONS(RECORDING_RECORD)
}
