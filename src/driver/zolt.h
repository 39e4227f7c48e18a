// Declarations of the zolt driver's operations, as the export layer calls
// them. The driver is a separate shared library bound by name at load time.
#pragma once

#include <cstdint>

#include "operations.h"
#include "records.h"

extern "C" {

// Places the new board handle in *board; value is pointer-sized.
std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord** board, std::uintptr_t value);

#define ZOLT_DECLARE_HANDLE_ONLY(name) std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board);
#define ZOLT_DECLARE_VALUE(name) \
    std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board, std::uint32_t value);
#define ZOLT_DECLARE_RECORD(name, Record) \
    std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board, Record* record);

ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_DECLARE_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(ZOLT_DECLARE_VALUE)
ZOLT_RECORD_OPERATIONS(ZOLT_DECLARE_RECORD)

#undef ZOLT_DECLARE_HANDLE_ONLY
#undef ZOLT_DECLARE_VALUE
#undef ZOLT_DECLARE_RECORD
}
