// The tracer's lines, made on the calling thread's stack without a library
// call: numbers, hex and the copy into the mapped file, each a few
// word-wide steps instead of one step per character.
#ifndef ZOLT_TRACE_LINE_H
#define ZOLT_TRACE_LINE_H

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zolt::trace {

constexpr auto kPowersOf10 = [] {
    std::array<std::uint64_t, 20> t{};
    std::uint64_t p = 1;
    for (auto& v : t) {
        v = p;
        p *= 10;
    }
    return t;
}();

// Decimal digits of v (1 for 0), without a division per digit.
inline std::size_t decimalDigits(std::uint64_t v) {
    v |= 1;  // same count, and 0 counts as one digit
    const auto t = static_cast<std::size_t>((std::bit_width(v) * 1233) >> 12);
    return t + (v >= kPowersOf10[t] ? 1 : 0);
}

static_assert(std::endian::native == std::endian::little, "the digit and hex packing is little-endian");

// The eight decimal digits of v < 10^8 as ASCII, the first in the lowest
// byte: the number is split into 4-, 2- and 1-digit lanes of one 64-bit word
// by multiplying with scaled reciprocals, so no division runs per digit.
inline std::uint64_t eightDigits(std::uint32_t v) {
    const std::uint64_t quads = (std::uint64_t{v % 10000} << 32) | (v / 10000);
    const std::uint64_t hundreds = ((quads * 10486) >> 20) & 0x0000007F0000007Full;
    const std::uint64_t pairs = ((quads - 100 * hundreds) << 16) | hundreds;
    std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
    tens |= (pairs - 10 * tens) << 8;
    return tens | 0x3030303030303030ull;
}

// Sixteen lowercase hex digits of the eight bytes in v, the first byte's
// first: each byte is spread over two lanes and every lane that holds more
// than 9 is moved up to the letters.
inline void hexOfEight(char* out, std::uint64_t v) {
    for (int half = 0; half < 2; ++half, v >>= 32, out += 8) {
        std::uint64_t t = v & 0xFFFFFFFFu;
        t = (t | t << 16) & 0x0000FFFF0000FFFFull;
        t = (t | t << 8) & 0x00FF00FF00FF00FFull;
        const std::uint64_t nibbles = ((t >> 4) & 0x000F000F000F000Full) | ((t & 0x000F000F000F000Full) << 8);
        const std::uint64_t letters = ((nibbles + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
        const std::uint64_t text = nibbles + 0x3030303030303030ull + letters * ('a' - '0' - 10);
        std::memcpy(out, &text, 8);
    }
}

// The pieces of a line are inlined into the function that builds it, so the
// line's length stays in a register instead of making a round trip through
// memory at every piece.
#define ZOLT_TRACE_INLINE [[gnu::always_inline]] inline

struct Line {
    // Longest line: a 32-byte record in hex, its unset ranges and the keys.
    char text[512];
    std::size_t size = 0;

    ZOLT_TRACE_INLINE void put(std::string_view s) {
        std::memcpy(text + size, s.data(), s.size());
        size += s.size();
    }
    ZOLT_TRACE_INLINE void put(char c) { text[size++] = c; }
    // The first n of the N bytes at from; copying all N is one fixed-size
    // copy instead of a library call, and what lands past n is overwritten.
    template <std::size_t N>
    ZOLT_TRACE_INLINE void put(const char (&from)[N], std::size_t n) {
        std::memcpy(text + size, from, N);
        size += n;
    }
    // Numbers are written as whole 8-byte words: the bytes past a number
    // are overwritten by what follows, and Line keeps room for that spill.
    ZOLT_TRACE_INLINE void number(std::uint64_t v) {
        if (v < 100000000) {
            upToEightDigits(static_cast<std::uint32_t>(v));
            return;
        }
        // The times: 16 digits in two words; longer past 115 days of uptime.
        const std::uint64_t high = v / 100000000;
        if (high < 100000000)
            upToEightDigits(static_cast<std::uint32_t>(high));
        else
            longNumber(high);
        const std::uint64_t low = eightDigits(static_cast<std::uint32_t>(v - high * 100000000));
        std::memcpy(text + size, &low, 8);
        size += 8;
    }
    // Past 10^16 (never a count, nor a time before 115 days of uptime).
    [[gnu::noinline]] void longNumber(std::uint64_t v) { number(v); }
    ZOLT_TRACE_INLINE void upToEightDigits(std::uint32_t v) {
        const std::size_t n = decimalDigits(v);
        const std::uint64_t digits = eightDigits(v) >> (8 * (8 - n));
        std::memcpy(text + size, &digits, 8);
        size += n;
    }
    void hexNumber(std::uint64_t v) {
        put("\"0x");
        int shift = 60;
        while (shift > 0 && ((v >> shift) & 0xF) == 0) shift -= 4;
        for (; shift >= 0; shift -= 4) text[size++] = "0123456789abcdef"[(v >> shift) & 0xF];
        put('"');
    }
    // A record of N bytes in hex, quoted.
    template <std::size_t N>
    ZOLT_TRACE_INLINE void hexBytes(const void* data) {
        put('"');
        const auto* b = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < N; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, b + i, std::min<std::size_t>(8, N - i));
            hexOfEight(text + size, word);
            size += 2 * std::min<std::size_t>(8, N - i);
        }
        put('"');
    }
};

// Copies a line (never shorter than 16 bytes) in 16-byte pieces, the last
// one ending exactly at the line's end: plain stores, no library call, and
// not one byte outside the line's reserved space, which other threads own.
inline void copyLine(char* to, const Line& line) {
    std::size_t i = 0;
    for (; i + 16 <= line.size; i += 16) std::memcpy(to + i, line.text + i, 16);
    if (i != line.size) std::memcpy(to + line.size - 16, line.text + line.size - 16, 16);
}

}  // namespace zolt::trace

#endif
