// getDate of the self-calling driver, in a source of its own.
#include <cstdint>

#include "driver/zolt.h"

#if defined(_WIN32)
#define SELFCALL_API __declspec(dllexport)
#else
#define SELFCALL_API __attribute__((visibility("default")))
#endif

extern "C" SELFCALL_API std::uint8_t ZOLT_CALL ZOLT_getDate(BoardRecord*, DateRecord* record) {
    record->word0 = 1999;
    record->byte2 = 12;
    record->byte3 = 31;
    return 0;
}
