// Handcrafted traces for the replay tests: each call written as the tracing
// driver writes it, an entry line and (unless it never returned) an exit
// line, with records built from the driver's record structs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/interface.h"
#include "driver/records.h"

namespace replaytest {

inline std::string hex(const void* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const auto b = static_cast<const std::uint8_t*>(bytes)[i];
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

template <class Record>
std::string hex(const Record& r) {
    return hex(&r, sizeof r);
}

inline std::string handleText(std::uint64_t handle) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(handle));
    return buffer;
}

// The "unset" ranges of an operation, as the tracer writes them.
inline std::string unsetText(const zolt::Operation& op) {
    const std::uint32_t mask = zolt::unsetMask(op);
    std::string out;
    for (unsigned b = 0; b < op.size;) {
        if (!(mask >> b & 1u)) {
            ++b;
            continue;
        }
        unsigned last = b;
        while (last + 1 < op.size && (mask >> (last + 1) & 1u)) ++last;
        if (!out.empty()) out += ",";
        out += std::to_string(b);
        if (last > b) out += "-" + std::to_string(last);
        b = last + 1;
    }
    return out;
}

inline TimeRecord timeRecord(double seconds, std::uint8_t minutes, std::uint8_t hours,
                             std::uint16_t day) {
    TimeRecord r{};
    r.real0 = seconds;
    r.byte9 = minutes;
    r.byte10 = hours;
    r.word12 = day;
    return r;
}

class TraceText {
   public:
    TraceText() {
        lines_.push_back(
            R"({"trace":"zolt","version":1,"pid":4242,"os":"linux","arch":"x86_64",)"
            R"("driver":"/opt/vendor/lib/libzolt.so","start":"2026-12-11T11:40:00.123456Z",)"
            R"("clock_ns":1000000,"limit":67108864})");
    }

    // A successful open (handle 0 and the status for a failed one).
    TraceText& open(std::uint64_t value, std::uint64_t handle, std::uint16_t boardValue,
                    unsigned status = 0, std::uint64_t tid = 1) {
        const std::uint64_t seq = enter("open", tid, R"(,"value":)" + std::to_string(value));
        std::string out = R"(,"handle":")" + handleText(handle) + "\"";
        if (status == 0) out += R"(,"word4":)" + std::to_string(boardValue);
        return exit(seq, tid, status, out, 1000);
    }

    // A handle-only or value operation.
    TraceText& call(const char* op, std::uint64_t handle, unsigned status, std::uint64_t tid = 1) {
        return exit(enter(op, tid, handlePart(handle)), tid, status, "", 1000);
    }
    TraceText& value(const char* op, std::uint64_t handle, std::uint32_t value, unsigned status,
                     std::uint64_t tid = 1) {
        const std::uint64_t seq =
            enter(op, tid, handlePart(handle) + R"(,"value":)" + std::to_string(value));
        return exit(seq, tid, status, "", 1000);
    }

    // A record operation: the record as the layer built it and as the
    // driver left it; returned false writes no exit line.
    template <class In, class Out>
    TraceText& record(const char* op, std::uint64_t handle, const In& in, unsigned status,
                      const Out& out, std::uint64_t tid = 1, std::int64_t duration = 1000,
                      bool returned = true) {
        const zolt::Operation& o = zolt::operations[*zolt::operationIndex(op)];
        const std::uint64_t seq = enter(
            op, tid,
            handlePart(handle) + R"(,"in":")" + hex(in) + R"(","unset":")" + unsetText(o) + "\"");
        if (!returned) return *this;
        return exit(seq, tid, status, R"(,"out":")" + hex(out) + "\"", duration);
    }

    // The line of the last entry written.
    std::size_t lastEntryLine() const { return lastEntry_; }

    std::string text() const {
        std::string out;
        for (const std::string& l : lines_) out += l + "\n";
        return out;
    }

   private:
    static std::string handlePart(std::uint64_t handle) {
        return R"(,"handle":")" + handleText(handle) + "\"";
    }

    std::uint64_t enter(const char* op, std::uint64_t tid, const std::string& rest) {
        const std::uint64_t seq = ++seq_;
        t_ += 1000;
        lines_.push_back(R"({"ev":"enter","seq":)" + std::to_string(seq) + R"(,"t":)" +
                         std::to_string(t_) + R"(,"tid":)" + std::to_string(tid) + R"(,"op":")" +
                         op + "\"" + rest + "}");
        lastEntry_ = lines_.size();
        return seq;
    }

    TraceText& exit(std::uint64_t seq, std::uint64_t tid, unsigned status, const std::string& rest,
                    std::int64_t duration) {
        t_ += duration;
        lines_.push_back(R"({"ev":"exit","seq":)" + std::to_string(seq) + R"(,"t":)" +
                         std::to_string(t_) + R"(,"tid":)" + std::to_string(tid) + R"(,"status":)" +
                         std::to_string(status) + R"(,"dur":)" + std::to_string(duration) + rest +
                         "}");
        return *this;
    }

    std::vector<std::string> lines_;
    std::uint64_t seq_ = 0;
    std::int64_t t_ = 1000000;
    std::size_t lastEntry_ = 0;
};

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace replaytest
