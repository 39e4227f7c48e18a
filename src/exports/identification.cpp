// Firmware and FPGA identification: three raw bytes from the driver become
// "XX-XX-XX" and a NUL in the host's 9-byte buffer, only after success.
#include "copy.h"

using namespace lvzolt;

namespace {

// The two characters "%02X" gives for every byte value, without a
// formatted-print call: one load per byte instead of two nibble lookups.
struct HexPairs {
    char pair[256][2];
};
constexpr HexPairs kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    HexPairs table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        table.pair[byte][0] = digits[byte >> 4];
        table.pair[byte][1] = digits[byte & 0xF];
    }
    return table;
}();

template <std::uint8_t (*Operation)(BoardRecord*, IdBuffer*)>
std::uint8_t idText(LV_ZOLT_Handle board, char*& text) {
    IdBuffer id{};
    const std::uint8_t status = Operation(driverHandle(board), &id);
    if (status != 0) return status;
    reloadAfterCall(text);
    // Read once, and all three bytes before the first character is stored:
    // a store through a char pointer could reach any object in memory.
    char* const out = text;
    const std::uint8_t byte0 = id.byte0, byte1 = id.byte1, byte2 = id.byte2;
    std::memcpy(out, kHexPairs.pair[byte0], 2);
    out[2] = '-';
    std::memcpy(out + 3, kHexPairs.pair[byte1], 2);
    out[5] = '-';
    std::memcpy(out + 6, kHexPairs.pair[byte2], 2);
    out[8] = '\0';
    return status;
}

}  // namespace

extern "C" {

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getFirmware(LV_ZOLT_Handle board, char* text) {
    return idText<ZOLT_getFirmware>(board, text);
}

LV_ZOLT_API std::uint8_t LV_ZOLT_CALL LV_ZOLT_getFPGA(LV_ZOLT_Handle board, char* text) {
    return idText<ZOLT_getFPGA>(board, text);
}
}
