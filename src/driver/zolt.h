// Declarations of the zolt driver's operations, as the export layer calls
// them. The driver is a separate shared library bound by name at load time.
#pragma once

#include <cstdint>

#include "operations.h"
#include "records.h"

// The layer calls the driver through the import address table itself rather
// than through a jump stub in front of it. Only the layer's own build sees
// the import attribute: the stand-ins define these operations.
#if defined(_WIN32) && defined(LV_ZOLT_BUILD)
#define ZOLT_IMPORT __declspec(dllimport)
#else
#define ZOLT_IMPORT
#endif

extern "C" {

// Places the new board handle in *board; value is pointer-sized.
ZOLT_IMPORT std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord** board, std::uintptr_t value);

#define ZOLT_DECLARE_HANDLE_ONLY(name) \
    ZOLT_IMPORT std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board);
#define ZOLT_DECLARE_VALUE(name) \
    ZOLT_IMPORT std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board, std::uint32_t value);
#define ZOLT_DECLARE_RECORD(name, Record) \
    ZOLT_IMPORT std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board, Record* record);

ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_DECLARE_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(ZOLT_DECLARE_VALUE)
ZOLT_RECORD_OPERATIONS(ZOLT_DECLARE_RECORD)

#undef ZOLT_DECLARE_HANDLE_ONLY
#undef ZOLT_DECLARE_VALUE
#undef ZOLT_DECLARE_RECORD
}
