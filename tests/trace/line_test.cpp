// The tracer's line pieces against the standard library's formatting: every
// digit count and hex length, numbers written in a row (each spills past its
// end), and a copy that stays inside the bytes it was given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "line.h"

namespace {

using zolt::trace::Line;

std::string text(const Line& line) { return {line.text, line.size}; }

std::vector<std::uint64_t> numbersWorthWriting() {
    std::vector<std::uint64_t> v{0, 1, 7, std::numeric_limits<std::uint32_t>::max(),
                                 std::numeric_limits<std::uint64_t>::max()};
    // Each side of every power of ten: where the digit count and the split
    // into 8-digit words change.
    std::uint64_t p = 1;
    for (int k = 1; k < 20; ++k) {
        p *= 10;
        for (const std::uint64_t n : {p - 1, p, p + 1}) v.push_back(n);
    }
    std::mt19937_64 random(20261211);
    for (int i = 0; i < 2000; ++i) v.push_back(random() >> (random() % 64));
    return v;
}

TEST(TraceLine, NumbersReadAsTheStandardLibraryWritesThem) {
    for (const std::uint64_t n : numbersWorthWriting()) {
        Line line;
        line.number(n);
        ASSERT_EQ(text(line), std::to_string(n)) << n;
    }
}

TEST(TraceLine, NumbersInARowKeepEachOther) {
    // Each number writes whole words past its end; the next piece must
    // land over that spill, never leave it in the line.
    const auto numbers = numbersWorthWriting();
    Line line;
    std::string expected;
    for (std::size_t i = 0; i < 24; ++i) {
        const std::uint64_t n = numbers[(i * 131) % numbers.size()];
        line.number(n);
        line.put(',');
        expected += std::to_string(n) + ',';
    }
    EXPECT_EQ(text(line), expected);
}

template <std::size_t N>
void expectHexOf(const unsigned char (&bytes)[N]) {
    Line line;
    line.put('[');
    line.hexBytes<N>(bytes);
    line.put(']');
    std::string expected = "[\"";
    for (const unsigned char b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        expected += pair;
    }
    expected += "\"]";
    EXPECT_EQ(text(line), expected) << N << " bytes";
}

TEST(TraceLine, RecordsOfEverySizeInLowercaseHex) {
    // Every byte value, in records of the sizes the operations have and of
    // sizes that end partway through a word.
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i * 167 + 3);
    const auto part = [&](auto& record, std::size_t from) {
        for (std::size_t i = 0; i < sizeof record; ++i) record[i] = all[(from + i) % 256];
        expectHexOf(record);
    };
    for (std::size_t from = 0; from < 256; from += 32) {
        unsigned char r1[1], r2[2], r4[4], r5[5], r8[8], r9[9], r12[12], r16[16], r24[24], r32[32];
        part(r1, from);
        part(r2, from);
        part(r4, from);
        part(r5, from);
        part(r8, from);
        part(r9, from);
        part(r12, from);
        part(r16, from);
        part(r24, from);
        part(r32, from);
    }
}

TEST(TraceLine, ACopyWritesTheLineAndNotOneByteAround) {
    for (std::size_t size = 16; size <= 200; ++size) {
        Line line;
        for (std::size_t i = 0; i < size; ++i) line.put(static_cast<char>('a' + i % 26));
        std::vector<char> to(size + 64, '#');
        zolt::trace::copyLine(to.data() + 32, line);
        EXPECT_EQ(std::string(to.data(), 32), std::string(32, '#')) << size;
        EXPECT_EQ(std::string(to.data() + 32, size), text(line)) << size;
        EXPECT_EQ(std::string(to.data() + 32 + size, 32), std::string(32, '#')) << size;
    }
}

}  // namespace
