// A recording stand-in for the zolt driver, for tests: it counts the calls of
// each operation, keeps what the last call brought (handle, 32-bit value and a
// copy of the record as it arrived), fills the record with scripted bytes and
// returns a scripted status register. Not thread-safe: one test at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/operations.h"

#if defined(_WIN32)
#define RECORDING_API __declspec(dllexport)
#else
#define RECORDING_API __attribute__((visibility("default")))
#endif

namespace recording {

#define RECORDING_ENUM_1(name) name,
#define RECORDING_ENUM_2(name, Record) name,
enum class Op : int {
    open,
    ZOLT_HANDLE_ONLY_OPERATIONS(RECORDING_ENUM_1) ZOLT_VALUE_OPERATIONS(RECORDING_ENUM_1)
        ZOLT_RECORD_OPERATIONS(RECORDING_ENUM_2) count
};
#undef RECORDING_ENUM_1
#undef RECORDING_ENUM_2

inline constexpr std::size_t kOperationCount = static_cast<std::size_t>(Op::count);
inline constexpr std::size_t kMaxRecord = 24;

// What the most recent call of one operation brought.
struct Arrival {
    int calls = 0;
    std::uintptr_t handle = 0;
    std::uintptr_t value = 0;   // second argument of open and the value operations
    const void* address = nullptr;  // record (or handle variable) address
    std::size_t size = 0;       // bytes of the record that the operation owns
    std::array<std::uint8_t, kMaxRecord> record{};  // its bytes on arrival
};

// How the next calls of one operation answer.
struct Script {
    // Returned whole; the caller must use only the low byte. The upper bits
    // are garbage by default, as a real driver may leave them.
    std::uint32_t statusRegister = 0xDEADBE00u;
    // When false the operation writes nothing into the record.
    bool fill = true;
    std::array<std::uint8_t, kMaxRecord> bytes{};
    // What open writes into the handle variable when fill is set.
    std::uintptr_t openHandle = 0;
    // When nonzero (at most kMaxRecord), the number of record bytes the
    // operation reads on arrival and writes, instead of the layer's own
    // record size: a test with its own account of the record sizes can then
    // have the driver touch exactly those bytes. Ignored by open.
    std::size_t span = 0;
};

RECORDING_API void reset();
RECORDING_API Script& script(Op op);
RECORDING_API const Arrival& arrival(Op op);
RECORDING_API std::size_t recordSize(Op op);
RECORDING_API const char* name(Op op);
RECORDING_API int totalCalls();

// Status byte plus garbage above it.
inline void setStatus(Op op, std::uint8_t status) {
    script(op).statusRegister = 0xDEADBE00u | status;
}

}  // namespace recording
