// show: a line per call; stats: per operation counts and durations.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cinttypes>
#include <map>

#include "commands.h"

namespace zolt_trace {

using zolt::trace::Call;
using zolt::trace::Trace;

std::string durationText(std::int64_t ns) {
    if (ns < 1000) return std::to_string(ns) + " ns";
    static constexpr struct {
        double scale;
        const char* unit;
    } units[] = {{1e3, "us"}, {1e6, "ms"}, {1e9, "s"}};
    std::size_t u = 0;
    while (u + 1 < std::size(units) && static_cast<double>(ns) / units[u].scale >= 999.5) ++u;
    const double v = static_cast<double>(ns) / units[u].scale;
    char text[48];
    std::snprintf(text, sizeof text, v < 10 ? "%.2f %s" : v < 100 ? "%.1f %s" : "%.0f %s", v,
                  units[u].unit);
    return text;
}

FieldValue fieldValue(const zolt::Field& field, const std::vector<std::uint8_t>& bytes) {
    FieldValue v;
    if (field.offset + field.width > bytes.size()) return v;
    std::uint64_t raw = 0;
    for (unsigned i = field.width; i-- > 0;) raw = raw << 8 | bytes[field.offset + i];
    switch (field.kind) {
        case zolt::Kind::unsigned_integer:
            v.integer = static_cast<std::int64_t>(raw);
            break;
        case zolt::Kind::signed_integer: {
            const unsigned shift = 64 - 8u * field.width;
            v.integer = static_cast<std::int64_t>(raw << shift) >> shift;
            break;
        }
        case zolt::Kind::real:
            v.real = true;
            v.value = field.width == 4
                          ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)))
                          : std::bit_cast<double>(raw);
            break;
    }
    return v;
}

bool outputsRead(const Call& call) { return call.returned && (call.status == 0 || !call.op().outputOnSuccessOnly); }

void print(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

namespace {

std::string fields(const Call& call, zolt::Flow flow, const std::vector<std::uint8_t>& bytes,
                   const char* separator) {
    std::string text;
    for (const zolt::Field& f : call.op().fields) {
        if (f.flow != flow) continue;
        if (!text.empty()) text += separator;
        text += std::string(f.name) + "=" + zolt::trace::fieldText(f, bytes);
    }
    return text;
}

std::string callLine(const Trace& trace, const Call& call) {
    using zolt::trace::handleText;
    const zolt::Operation& op = call.op();
    char when[64];
    std::snprintf(when, sizeof when, "%+.6f",
                  static_cast<double>(call.enterTime - trace.header.clock) / 1e9);
    std::string line = "#" + std::to_string(call.seq) + " t=" + when + "s tid " +
                       std::to_string(call.thread) + " " + std::string(op.name) + "(";
    std::vector<std::string> args;
    if (call.handle) args.push_back(handleText(*call.handle));
    if (call.value) args.push_back(std::to_string(*call.value));
    if (op.shape == zolt::Shape::record) {
        const std::string in = fields(call, zolt::Flow::in, call.in, ", ");
        if (!in.empty()) args.push_back(in);
    }
    for (std::size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + args[i];
    line += ") -> ";
    if (!call.returned)
        return line + (trace.fullAt ? "no exit recorded (the trace was full)" : "never returned");
    line += std::to_string(call.status);
    if (op.shape == zolt::Shape::open) {
        if (call.openedHandle) line += " handle=" + handleText(*call.openedHandle);
        if (call.boardValue) line += " word4=" + std::to_string(*call.boardValue);
    } else if (op.shape == zolt::Shape::record && outputsRead(call)) {
        const std::string out = fields(call, zolt::Flow::out, call.out, " ");
        if (!out.empty()) line += " " + out;
    }
    return line + " [" + durationText(call.duration) + "]";
}

std::string summary(const Trace& t) {
    return "-- " + t.file + ": pid " + std::to_string(t.header.pid) + ", " + t.header.os + " " +
           t.header.arch + ", driver " + t.header.driver + ", started " + t.header.start + "\n";
}

std::string endings(const Trace& t) {
    std::string text;
    if (t.fullAt)
        text += "-- the trace is full from call " + std::to_string(*t.fullAt) +
                " on: later events were not recorded\n";
    if (t.cutShort) text += "-- the trace ends cut short: its process ended without closing it\n";
    return text;
}

struct SeqRange {
    std::uint64_t first = 0, last = UINT64_MAX;
};

SeqRange seqRange(const std::string& text) {
    SeqRange r;
    if (text.empty()) return r;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [p, ec] = std::from_chars(begin, end, r.first);
    bool ok = ec == std::errc{} && p != begin;
    if (ok && p == end) {
        r.last = r.first;
    } else if (ok && *p == '-') {
        if (p + 1 != end) {
            auto [q, ec2] = std::from_chars(p + 1, end, r.last);
            ok = ec2 == std::errc{} && q == end && q != p + 1;
        }
    } else {
        ok = false;
    }
    if (!ok || r.last < r.first)
        throw UsageError{"--seq: '" + text + "' is not N, FIRST-LAST or FIRST-"};
    return r;
}

}  // namespace

int show(const Options& o, std::FILE* out) {
    std::set<std::size_t> ops;
    for (const std::string& name : o.ops) {
        const auto index = zolt::operationIndex(name);
        if (!index) throw UsageError{"--op: unknown operation '" + name + "'"};
        ops.insert(*index);
    }
    const std::set<std::uint64_t> threads(o.threads.begin(), o.threads.end());
    const SeqRange seq = seqRange(o.seq);
    const Trace t = zolt::trace::read(o.files.at(0));
    print(out, summary(t));
    for (const Call& c : t.calls) {
        if (!ops.empty() && !ops.count(c.operation)) continue;
        if (!threads.empty() && !threads.count(c.thread)) continue;
        if (c.seq < seq.first || c.seq > seq.last) continue;
        if (o.failed && c.returned && c.status == 0) continue;
        print(out, callLine(t, c) + "\n");
    }
    print(out, endings(t));
    return 0;
}

int stats(const Options& o, std::FILE* out) {
    const Trace t = zolt::trace::read(o.files.at(0));
    struct Tally {
        std::size_t calls = 0, unreturned = 0;
        std::map<unsigned, std::size_t> failures;  // by status
        std::vector<std::int64_t> durations;
    };
    std::map<std::size_t, Tally> byOp;  // interface order
    for (const Call& c : t.calls) {
        Tally& tally = byOp[c.operation];
        ++tally.calls;
        if (!c.returned) {
            ++tally.unreturned;
            continue;
        }
        if (c.status) ++tally.failures[c.status];
        tally.durations.push_back(c.duration);
    }
    print(out, summary(t));
    char line[160];
    std::snprintf(line, sizeof line, "%-18s %8s %8s %10s %10s %10s  %s\n", "operation", "calls",
                  "failed", "p50", "p99", "max", "failures by status");
    print(out, line);
    for (auto& [index, tally] : byOp) {
        std::string p50 = "-", p99 = "-", max = "-";
        auto& d = tally.durations;
        if (!d.empty()) {
            std::sort(d.begin(), d.end());
            // Nearest rank: the smallest duration at or above the share of calls.
            const auto rank = [&](double share) {
                const auto n = static_cast<std::size_t>(std::ceil(share * static_cast<double>(d.size())));
                return d[std::max<std::size_t>(n, 1) - 1];
            };
            p50 = durationText(rank(0.50));
            p99 = durationText(rank(0.99));
            max = durationText(d.back());
        }
        std::size_t failed = 0;
        std::string byStatus;
        for (const auto& [status, n] : tally.failures) {
            failed += n;
            byStatus += (byStatus.empty() ? "" : ", ") + std::to_string(status) + ": " + std::to_string(n);
        }
        if (tally.unreturned)
            byStatus += (byStatus.empty() ? "" : ", ") +
                        std::string(t.fullAt ? "no exit recorded: " : "never returned: ") +
                        std::to_string(tally.unreturned);
        std::snprintf(line, sizeof line, "%-18s %8zu %8zu %10s %10s %10s  ",
                      std::string(zolt::operations[index].name).c_str(), tally.calls, failed,
                      p50.c_str(), p99.c_str(), max.c_str());
        std::string text = line + byStatus;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        print(out, text + "\n");
    }
    print(out, endings(t));
    return 0;
}

}  // namespace zolt_trace
