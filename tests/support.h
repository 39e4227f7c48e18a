// Shared fixtures for the export-layer tests: a host area whose every byte
// starts as a known canary, and the table of all 24 exports with the host
// locations that each one may write.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LV_zolt.h"
#include "recording.h"

namespace lvtest {

using recording::Op;

// The host's memory around the out-parameters. Every out-parameter points
// into it, so any byte written outside the expected places shows up.
struct HostArea {
    static constexpr std::size_t kSize = 64;
    alignas(16) std::array<std::uint8_t, kSize> bytes;

    static std::uint8_t canary(std::size_t i) { return static_cast<std::uint8_t>(0xC0 + i % 16); }
    HostArea() { reset(); }
    void reset() {
        for (std::size_t i = 0; i < kSize; ++i) bytes[i] = canary(i);
    }
    template <class T>
    T* at(std::size_t offset) {
        return reinterpret_cast<T*>(bytes.data() + offset);
    }
};

// One out-parameter: where it points in the host area, and which record
// bytes it receives.
struct Out {
    std::size_t host;
    std::size_t record;
    std::size_t width;
};

struct ExportCase {
    const char* name;
    Op op;
    std::uint8_t (*call)(LV_ZOLT_Handle, HostArea&);
    // Out-parameters copied from the record whatever the status. Open and
    // the identification exports have their own tests.
    std::vector<Out> outs;
};

// Record bytes the stand-in writes: distinct, and none equal to a canary.
inline std::array<std::uint8_t, recording::kMaxRecord> fillPattern(std::uint8_t base = 0x10) {
    std::array<std::uint8_t, recording::kMaxRecord> b{};
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(base + i);
    return b;
}

// A board record that open can succeed with.
struct FakeBoard {
    alignas(8) std::array<std::uint8_t, 16> bytes{};
    LV_ZOLT_Handle handle() const { return reinterpret_cast<LV_ZOLT_Handle>(bytes.data()); }
};

const std::vector<ExportCase>& allExports();

// Bytes of a value, for comparing with record and host bytes.
template <class T>
std::vector<std::uint8_t> bytesOf(const T& v) {
    std::vector<std::uint8_t> out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override { recording::reset(); }
};

}  // namespace lvtest
