// Firmware and FPGA identification: three raw bytes from the driver become
// "XX-XX-XX" and a NUL in the host's 9-byte buffer, only after success.
#include "copy.h"

using namespace lvzolt;

namespace {

// At namespace scope, so that it is read-only data rather than a copy built
// on the stack at each call.
constexpr char kDigits[] = "0123456789ABCDEF";

// The two characters "%02X" gives for a byte, without a formatted-print call.
inline void hexPair(char* out, std::uint8_t byte) {
    out[0] = kDigits[byte >> 4];
    out[1] = kDigits[byte & 0xF];
}

template <std::uint8_t (*Operation)(BoardRecord*, IdBuffer*)>
std::uint8_t idText(LV_ZOLT_Handle board, char* text) {
    IdBuffer id{};
    const std::uint8_t status = Operation(driverHandle(board), &id);
    if (status != 0) return status;
    // All three bytes before the first character is stored: a store through
    // a char pointer could reach any object, the record included.
    const std::uint8_t byte0 = id.byte0, byte1 = id.byte1, byte2 = id.byte2;
    hexPair(text, byte0);
    text[2] = '-';
    hexPair(text + 3, byte1);
    text[5] = '-';
    hexPair(text + 6, byte2);
    text[8] = '\0';
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
