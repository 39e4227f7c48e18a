// The cheapest driver there can be: each record operation fills its record
// with one byte pattern and every operation returns success, so a benchmark
// of an export measures the layer and a call, not the driver.
#include <cstdint>
#include <cstring>

#include "driver/zolt.h"

#if defined(_WIN32)
#define TRIVIAL_API __declspec(dllexport)
#else
#define TRIVIAL_API __attribute__((visibility("default")))
#endif

namespace {
// Open hands out this record; its board value is what open passes on.
BoardRecord board{{0, 0, 0, 0}, 0x1234};
}  // namespace

extern "C" {

TRIVIAL_API std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord** handle, std::uintptr_t) {
    *handle = &board;
    return 0;
}

#define TRIVIAL_HANDLE_ONLY(name) \
    TRIVIAL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*) { return 0; }
#define TRIVIAL_VALUE(name) \
    TRIVIAL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, std::uint32_t) { return 0; }
#define TRIVIAL_RECORD(name, Record)                                               \
    TRIVIAL_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, Record* record) { \
        std::memset(record, 0x5A, sizeof(Record));                                 \
        return 0;                                                                  \
    }

ZOLT_HANDLE_ONLY_OPERATIONS(TRIVIAL_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(TRIVIAL_VALUE)
ZOLT_RECORD_OPERATIONS(TRIVIAL_RECORD)
}
