// Open, close and the pass-through exports: each is one driver call with the
// host's arguments unchanged.
#include "copy.h"

using namespace lvzolt;

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_open(LV_ZOLT_Handle* board, std::uint32_t value,
                                                   std::uint16_t* word4) {
    // Cleared so that a failed open that writes nothing hands out 0, not
    // whatever the stack held.
    BoardRecord* handle = nullptr;
    const std::uint8_t status = ZOLT_open(&handle, value);
    // Read once: for all the compiler knows, the store through board could
    // reach the handle variable.
    BoardRecord* const opened = handle;
    put(board, reinterpret_cast<LV_ZOLT_Handle>(opened));
    if (status == 0) {
        std::uint16_t field;
        std::memcpy(&field, reinterpret_cast<const unsigned char*>(opened) +
                                offsetof(BoardRecord, word4),
                    sizeof field);
        put(word4, field);
    }
    return status;
}

#define LV_ZOLT_PASS_HANDLE_ONLY(name)                                            \
    LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_##name(LV_ZOLT_Handle board) { \
        return ZOLT_##name(driverHandle(board));                                  \
    }
#define LV_ZOLT_PASS_VALUE(name)                                                  \
    LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_##name(LV_ZOLT_Handle board,   \
                                                         std::uint32_t value) {   \
        return ZOLT_##name(driverHandle(board), value);                           \
    }

ZOLT_HANDLE_ONLY_OPERATIONS(LV_ZOLT_PASS_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(LV_ZOLT_PASS_VALUE)

}
