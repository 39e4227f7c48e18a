#include "reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_map>

namespace zolt::trace {

ReadError::ReadError(std::string file_, std::size_t line_, const std::string& message_)
    : std::runtime_error(line_ ? file_ + ":" + std::to_string(line_) + ": " + message_
                               : file_ + ": " + message_),
      file(std::move(file_)),
      line(line_),
      message(message_) {}

namespace {

using nlohmann::json;

// A value as quoted in a message: short, printable.
std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 40)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f) {
            static constexpr char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return text.size() > 40 ? out + "..." : out;
}

std::string typeName(const json& value) {
    if (value.is_number_unsigned()) return "an unsigned integer";
    if (value.is_number_integer()) return "a negative integer";
    if (value.is_number_float()) return "a number with a fraction or exponent";
    if (value.is_string()) return "a string";
    if (value.is_boolean()) return "a boolean";
    if (value.is_null()) return "null";
    if (value.is_array()) return "an array";
    return "an object";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One line's event, with the file and line for its messages.
class Line {
   public:
    Line(const std::string& file, std::size_t number, const json& object)
        : file_(file), number_(number), object_(object) {}

    [[noreturn]] void fail(const std::string& message) const {
        throw ReadError(file_, number_, message);
    }

    bool has(const char* key) const { return object_.contains(key); }

    const json& need(const char* key) const {
        const auto it = object_.find(key);
        if (it == object_.end()) fail("missing key \"" + std::string(key) + "\"");
        return *it;
    }

    std::uint64_t unsignedInteger(const char* key, std::uint64_t max) const {
        const json& v = need(key);
        if (!v.is_number_unsigned())
            fail("\"" + std::string(key) + "\" must be an unsigned integer, not " + typeName(v));
        const auto n = v.get<std::uint64_t>();
        if (n > max)
            fail("\"" + std::string(key) + "\" " + std::to_string(n) + " is out of range 0-" +
                 std::to_string(max));
        return n;
    }

    std::int64_t integer(const char* key) const {
        const json& v = need(key);
        if (v.is_number_unsigned()) {
            if (v.get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                fail("\"" + std::string(key) + "\" is out of range");
            return static_cast<std::int64_t>(v.get<std::uint64_t>());
        }
        if (!v.is_number_integer())
            fail("\"" + std::string(key) + "\" must be an integer, not " + typeName(v));
        return v.get<std::int64_t>();
    }

    const std::string& string(const char* key) const {
        const json& v = need(key);
        if (!v.is_string())
            fail("\"" + std::string(key) + "\" must be a string, not " + typeName(v));
        return v.get_ref<const std::string&>();
    }

    std::uint64_t handle(const char* key) const {
        const std::string& s = string(key);
        const bool wellFormed = s.size() > 2 && s.size() <= 18 && s[0] == '0' && s[1] == 'x' &&
                                std::all_of(s.begin() + 2, s.end(),
                                            [](char c) { return hexDigit(c) >= 0; });
        if (!wellFormed)
            fail("\"" + std::string(key) +
                 "\" must be \"0x\" and 1 to 16 lowercase hex digits, not \"" + shown(s) + "\"");
        std::uint64_t h = 0;
        for (std::size_t i = 2; i < s.size(); ++i)
            h = h << 4 | static_cast<std::uint64_t>(hexDigit(s[i]));
        return h;
    }

    std::vector<std::uint8_t> bytes(const char* key, const zolt::Operation& op) const {
        const std::string& s = string(key);
        if (s.size() != 2u * op.size)
            fail("\"" + std::string(key) + "\" holds " + std::to_string(s.size()) +
                 " hex digits; " + std::string(op.name) + "'s record needs " +
                 std::to_string(2u * op.size));
        std::vector<std::uint8_t> out(op.size);
        for (std::size_t i = 0; i < s.size(); ++i) {
            const int d = hexDigit(s[i]);
            if (d < 0)
                fail("\"" + std::string(key) + "\": '" + shown(s.substr(i, 1)) +
                     "' at position " + std::to_string(i) + " is not a lowercase hex digit");
            out[i / 2] = static_cast<std::uint8_t>(out[i / 2] << 4 | d);
        }
        return out;
    }

    // "first-last" or "n" ranges in increasing order, joined by ",".
    std::uint32_t ranges(const char* key, const zolt::Operation& op) const {
        const std::string& s = string(key);
        std::uint32_t mask = 0;
        int previous = -1;
        std::string_view rest = s;
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            unsigned first = 0, last = 0;
            const char* end = item.data() + item.size();
            auto r = std::from_chars(item.data(), end, first);
            bool ok = r.ec == std::errc{} && r.ptr != item.data();
            if (ok && r.ptr != end) {
                const char* from = r.ptr + 1;
                ok = *r.ptr == '-' && from != end;
                if (ok) {
                    r = std::from_chars(from, end, last);
                    ok = r.ec == std::errc{} && r.ptr == end;
                }
            } else {
                last = first;
            }
            if (!ok || last < first || last >= op.size || static_cast<int>(first) <= previous ||
                (comma != std::string_view::npos && rest.empty()))
                fail("\"" + std::string(key) + "\": \"" + shown(s) +
                     "\" is not a list of increasing byte ranges within " +
                     std::string(op.name) + "'s " + std::to_string(op.size) + "-byte record");
            for (unsigned b = first; b <= last; ++b) mask |= 1u << b;
            previous = static_cast<int>(last);
        }
        return mask;
    }

   private:
    const std::string& file_;
    std::size_t number_;
    const json& object_;
};

json parseLine(std::string_view text, const std::string& file, std::size_t number,
               bool header) {
    json object;
    try {
        object = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        if (header) throw ReadError(file, number, "not a zolt trace (the first line is not JSON)");
        // "[json.exception.parse_error.101] parse error at line 1, column 5: why"
        std::string why = e.what();
        if (const auto id = why.find("] "); id != std::string::npos) why = why.substr(id + 2);
        std::string where;
        if (const auto* p = dynamic_cast<const json::parse_error*>(&e)) {
            where = " at column " + std::to_string(p->byte);
            if (const auto colon = why.find(": "); colon != std::string::npos)
                why = why.substr(colon + 2);
        }
        throw ReadError(file, number, "not JSON" + where + ": " + why);
    }
    if (!object.is_object()) {
        if (header) throw ReadError(file, number, "not a zolt trace (the first line is not a JSON object)");
        throw ReadError(file, number, "not a JSON object but " + typeName(object));
    }
    return object;
}

Header readHeader(const Line& line, const json& object) {
    const auto trace = object.find("trace");
    if (trace == object.end() || *trace != "zolt")
        line.fail("not a zolt trace (the first line is not a trace header)");
    const std::int64_t version = line.integer("version");
    if (version != 1)
        line.fail("trace version " + std::to_string(version) +
                  " is not supported (this reader reads version 1)");
    Header h;
    h.version = 1;
    h.pid = line.integer("pid");
    h.os = line.string("os");
    h.arch = line.string("arch");
    h.driver = line.string("driver");
    h.start = line.string("start");
    h.clock = line.integer("clock_ns");
    h.limit = line.unsignedInteger("limit", std::numeric_limits<std::uint64_t>::max());
    return h;
}

class Reader {
   public:
    explicit Reader(std::string_view name) { trace_.file = name; }

    Trace run(std::string_view text) {
        std::size_t pos = 0, number = 0;
        for (;;) {
            const std::size_t start = pos;
            while (pos < text.size() && text[pos] == '\0') ++pos;
            if (pos == text.size()) {
                trace_.cutShort = trace_.cutShort || pos != start;
                break;
            }
            const std::size_t newline = text.find('\n', pos);
            if (newline == std::string_view::npos) {  // written in part when the process died
                trace_.cutShort = true;
                break;
            }
            ++number;
            line(text.substr(pos, newline - pos), number);
            pos = newline + 1;
        }
        if (number == 0) throw ReadError(trace_.file, 1, "not a zolt trace (no header line)");
        std::sort(trace_.calls.begin(), trace_.calls.end(),
                  [](const Call& a, const Call& b) { return a.seq < b.seq; });
        return std::move(trace_);
    }

   private:
    void line(std::string_view text, std::size_t number) {
        const bool header = number == 1;
        if (const auto nul = text.find('\0'); nul != std::string_view::npos)
            throw ReadError(trace_.file, number,
                            header ? "not a zolt trace (the first line holds a NUL byte)"
                                   : "damaged line: NUL byte at column " + std::to_string(nul + 1));
        if (text.empty() && !header) throw ReadError(trace_.file, number, "empty line");
        const json object = parseLine(text, trace_.file, number, header);
        const Line l(trace_.file, number, object);
        if (header) {
            trace_.header = readHeader(l, object);
            return;
        }
        if (fullLine_)
            l.fail("event after the full marker of line " + std::to_string(fullLine_));
        const std::string& ev = l.string("ev");
        if (ev == "enter") {
            enter(l, number);
        } else if (ev == "exit") {
            exit(l, number);
        } else if (ev == "full") {
            trace_.fullAt = l.unsignedInteger("seq", kMaxSeq);
            see(l.integer("t"));
            fullLine_ = number;
        } else {
            l.fail("unknown event \"" + shown(ev) + "\"");
        }
    }

    void enter(const Line& l, std::size_t number) {
        Call c;
        c.seq = sequence(l);
        c.enterTime = l.integer("t");
        c.thread = l.unsignedInteger("tid", kMaxU64);
        const std::string& name = l.string("op");
        const auto index = zolt::operationIndex(name);
        if (!index) l.fail("unknown operation \"" + shown(name) + "\"");
        c.operation = *index;
        c.line = number;
        const zolt::Operation& op = zolt::operations[*index];
        switch (op.shape) {
            case zolt::Shape::open:
                c.value = l.unsignedInteger("value", kMaxU64);
                break;
            case zolt::Shape::handle:
                c.handle = l.handle("handle");
                break;
            case zolt::Shape::value:
                c.handle = l.handle("handle");
                c.value = l.unsignedInteger("value", 0xFFFFFFFFu);
                break;
            case zolt::Shape::record:
                c.handle = l.handle("handle");
                c.in = l.bytes("in", op);
                c.unset = l.ranges("unset", op);
                break;
        }
        const auto [it, added] = bySeq_.try_emplace(c.seq, trace_.calls.size());
        if (!added)
            l.fail("seq " + std::to_string(c.seq) + " entered twice (first on line " +
                   std::to_string(trace_.calls[it->second].line) + ")");
        see(c.enterTime);
        trace_.calls.push_back(std::move(c));
    }

    void exit(const Line& l, std::size_t number) {
        const std::uint64_t seq = sequence(l);
        const auto it = bySeq_.find(seq);
        if (it == bySeq_.end())
            l.fail("exit of seq " + std::to_string(seq) + " without its entry");
        Call& c = trace_.calls[it->second];
        if (c.returned)
            l.fail("seq " + std::to_string(seq) + " exited twice (first on line " +
                   std::to_string(c.exitLine) + ")");
        const std::int64_t t = l.integer("t");
        const std::uint64_t thread = l.unsignedInteger("tid", kMaxU64);
        if (thread != c.thread)
            l.fail("exit of seq " + std::to_string(seq) + " on thread " + std::to_string(thread) +
                   ", its entry (line " + std::to_string(c.line) + ") on thread " +
                   std::to_string(c.thread));
        const auto status = static_cast<std::uint8_t>(l.unsignedInteger("status", 255));
        const auto duration = l.unsignedInteger(
            "dur", static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
        const zolt::Operation& op = c.op();
        if (op.shape == zolt::Shape::record) c.out = l.bytes("out", op);
        if (op.shape == zolt::Shape::open) {
            c.openedHandle = l.handle("handle");
            if (status == 0 || l.has("word4"))
                c.boardValue = static_cast<std::uint16_t>(l.unsignedInteger("word4", 0xFFFF));
        }
        c.returned = true;
        c.exitLine = number;
        c.exitTime = t;
        c.status = status;
        c.duration = static_cast<std::int64_t>(duration);
        see(t);
    }

    std::uint64_t sequence(const Line& l) const {
        const std::uint64_t seq = l.unsignedInteger("seq", kMaxSeq);
        if (seq == 0) l.fail("\"seq\" 0: sequence numbers start at 1");
        return seq;
    }

    void see(std::int64_t t) {
        if (!seen_ || t > trace_.endTime) trace_.endTime = t;
        seen_ = true;
    }

    static constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
    static constexpr std::uint64_t kMaxSeq = kMaxU64;

    Trace trace_;
    std::unordered_map<std::uint64_t, std::size_t> bySeq_;
    std::size_t fullLine_ = 0;
    bool seen_ = false;
};

}  // namespace

Trace parse(std::string_view text, std::string_view name) { return Reader(name).run(text); }

Trace read(const std::filesystem::path& file) {
    const std::string name = file.string();
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ReadError(name, 0, "cannot open: " + std::string(std::strerror(errno)));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ReadError(name, 0, "cannot read");
    return parse(text.view(), name);
}

std::string fieldText(const zolt::Field& field, const std::vector<std::uint8_t>& bytes) {
    if (field.offset + field.width > bytes.size()) return "?";
    std::uint64_t raw = 0;
    for (unsigned i = field.width; i-- > 0;) raw = raw << 8 | bytes[field.offset + i];
    char buffer[64];
    std::to_chars_result r{};
    switch (field.kind) {
        case zolt::Kind::unsigned_integer:
            r = std::to_chars(buffer, buffer + sizeof buffer, raw);
            break;
        case zolt::Kind::signed_integer: {
            const unsigned shift = 64 - 8u * field.width;
            const auto value = static_cast<std::int64_t>(raw << shift) >> shift;
            r = std::to_chars(buffer, buffer + sizeof buffer, value);
            break;
        }
        case zolt::Kind::real:
            if (field.width == 4)
                r = std::to_chars(buffer, buffer + sizeof buffer,
                                  std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
            else
                r = std::to_chars(buffer, buffer + sizeof buffer, std::bit_cast<double>(raw));
            break;
    }
    return std::string(buffer, r.ptr);
}

std::string handleText(std::uint64_t handle) {
    char buffer[24] = "0x";
    const auto r = std::to_chars(buffer + 2, buffer + sizeof buffer, handle, 16);
    return std::string(buffer, r.ptr);
}

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string rangesText(std::uint32_t mask) {
    std::string out;
    for (unsigned b = 0; b < 32;) {
        if (!(mask >> b & 1u)) {
            ++b;
            continue;
        }
        unsigned last = b;
        while (last + 1 < 32 && (mask >> (last + 1) & 1u)) ++last;
        if (!out.empty()) out += ',';
        out += std::to_string(b);
        if (last != b) out += "-" + std::to_string(last);
        b = last + 1;
    }
    return out;
}

}  // namespace zolt::trace
