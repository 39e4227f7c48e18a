// Identification text: "XX-XX-XX" and a NUL at bytes 0-8 after success only.
#include <cstdio>

#include "support.h"

namespace lvtest {
namespace {

struct IdExport {
    Op op;
    std::uint8_t (*call)(LV_ZOLT_Handle, char*);
};

// Names the case in test listings by its export: the default printer shows
// the object's bytes, a function address among them, which changes run by run.
void PrintTo(const IdExport& e, std::ostream* os) { *os << recording::name(e.op); }

class Identification : public ExportTest, public testing::WithParamInterface<IdExport> {
protected:
    // Runs the export with the driver's three bytes (and junk after them)
    // and returns the host's 16-byte buffer.
    std::array<char, 16> run(std::array<std::uint8_t, 3> id, std::uint8_t status = 0,
                             std::uint8_t junk = 0x5A) {
        recording::reset();
        recording::setStatus(GetParam().op, status);
        auto& bytes = recording::script(GetParam().op).bytes;
        bytes.fill(junk);
        std::copy(id.begin(), id.end(), bytes.begin());
        std::array<char, 16> text;
        text.fill('#');
        EXPECT_EQ(GetParam().call(0x99, text.data()), status);
        EXPECT_EQ(recording::arrival(GetParam().op).calls, 1);
        return text;
    }
};

std::string printed(const std::array<char, 16>& text) { return std::string(text.data(), 16); }

TEST_P(Identification, FormatsThreeBytesAsUpperCaseHexPairs) {
    const struct {
        std::array<std::uint8_t, 3> id;
        const char* text;
    } cases[] = {
        {{0x01, 0xA2, 0x3F}, "01-A2-3F"},
        {{0x00, 0x00, 0x00}, "00-00-00"},
        {{0xFF, 0x80, 0x0A}, "FF-80-0A"},
        {{0x9B, 0xCD, 0xEF}, "9B-CD-EF"},
    };
    for (const auto& c : cases) {
        for (std::uint8_t junk : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x41}}) {
            // Bytes 9 on keep the host's '#'; bytes 3-11 of the driver's buffer never matter.
            EXPECT_EQ(printed(run(c.id, 0, junk)), std::string(c.text) + '\0' + "#######");
        }
    }
}

TEST_P(Identification, MatchesTheStandardFormattedPrintForEveryByteValue) {
    for (unsigned v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        const auto other = static_cast<std::uint8_t>(255 - v);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02X-%02X-%02X", unsigned{b}, unsigned{other},
                      unsigned{b});
        ASSERT_EQ(std::string(run({b, other, b}).data()), expected) << v;
    }
}

TEST_P(Identification, LeavesTheBufferUntouchedOnFailure) {
    for (std::uint8_t status : {std::uint8_t{1}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
        EXPECT_EQ(printed(run({0x01, 0x02, 0x03}, status)), std::string(16, '#'));
    }
}

INSTANTIATE_TEST_SUITE_P(Twins, Identification,
                         testing::Values(IdExport{Op::getFirmware, LV_ZOLT_getFirmware},
                                         IdExport{Op::getFPGA, LV_ZOLT_getFPGA}),
                         [](const auto& param) { return std::string(recording::name(param.param.op)); });

}  // namespace
}  // namespace lvtest
