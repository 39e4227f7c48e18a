// Link-time stand-in for the zolt driver: it gives the linker the 24 names
// under the driver's library name, so that LV_zolt records zolt as a needed
// library without any particular driver being built in. It is never put
// where a host would load it; every body reports failure in case it is.
#include <cstdint>

#include "zolt.h"

extern "C" {

std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord**, std::uintptr_t) { return 0xFF; }

#define ZOLT_STUB_HANDLE_ONLY(name) \
    std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*) { return 0xFF; }
#define ZOLT_STUB_VALUE(name) \
    std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, std::uint32_t) { return 0xFF; }
#define ZOLT_STUB_RECORD(name, Record) \
    std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord*, Record*) { return 0xFF; }

ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_STUB_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(ZOLT_STUB_VALUE)
ZOLT_RECORD_OPERATIONS(ZOLT_STUB_RECORD)
}
