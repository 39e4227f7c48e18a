// Firmware and FPGA identification: three raw bytes from the driver become
// "XX-XX-XX" and a NUL in the host's 9-byte buffer, only after success.
#include "copy.h"

using namespace lvzolt;

namespace {

// The same characters "%02X" gives, without a formatted-print call.
constexpr char kHexDigits[] = "0123456789ABCDEF";

template <std::uint8_t (*Operation)(BoardRecord*, IdBuffer*)>
std::uint8_t idText(LV_ZOLT_Handle board, char* text) {
    IdBuffer id{};
    const std::uint8_t status = Operation(driverHandle(board), &id);
    if (status != 0) return status;
    char out[9];
    for (int i = 0; i < 3; ++i) {
        const unsigned byte = id.bytes[i];
        out[3 * i] = kHexDigits[byte >> 4];
        out[3 * i + 1] = kHexDigits[byte & 0xF];
        out[3 * i + 2] = '-';
    }
    out[8] = '\0';
    std::memcpy(text, out, sizeof out);
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
