// The identification text has 2^24 inputs: every one of them is checked
// against the standard formatted print.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "LV_zolt.h"
#include "recording.h"

namespace {

using recording::Op;

TEST(IdText, EveryByteTripleMatchesTheStandardFormattedPrint) {
    recording::reset();
    recording::setStatus(Op::getFirmware, 0);
    auto& bytes = recording::script(Op::getFirmware).bytes;
    std::uint32_t mismatches = 0;
    std::uint32_t first = 0;
    for (std::uint32_t v = 0; v < (1u << 24); ++v) {
        bytes[0] = static_cast<std::uint8_t>(v >> 16);
        bytes[1] = static_cast<std::uint8_t>(v >> 8);
        bytes[2] = static_cast<std::uint8_t>(v);
        // Whatever follows the three bytes must not matter.
        std::memset(bytes.data() + 3, static_cast<int>(v & 0xFF) ^ 0x5A, 9);
        char text[12];
        char want[12];
        std::memset(text, '#', sizeof text);
        std::memset(want, '#', sizeof want);
        std::snprintf(want, 9, "%02X-%02X-%02X", unsigned{bytes[0]}, unsigned{bytes[1]},
                      unsigned{bytes[2]});
        const std::uint8_t status = LV_ZOLT_getFirmware(1, text);
        if (status != 0 || std::memcmp(text, want, sizeof text) != 0) {
            if (mismatches++ == 0) first = v;
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first at 0x" << std::hex << first;
    EXPECT_EQ(recording::arrival(Op::getFirmware).calls, 1 << 24);
}

}  // namespace
