// diff: two traces call by call, in seq order. Times, thread ids and unset
// bytes are left out, handles are compared by the order of the opens that
// returned them, and outputs the layer does not read are ignored: what is
// left is what a host could tell apart.
#include <map>
#include <string_view>

#include "commands.h"

namespace zolt_trace {

using zolt::trace::Call;
using zolt::trace::Trace;

namespace {

// Handles named by the open that returned them: "board 1" is the first
// successful open's. A handle no open returned is shown as it is.
class Boards {
   public:
    std::string name(std::uint64_t handle) const {
        const auto it = boards_.find(handle);
        return it == boards_.end() ? "unopened " + zolt::trace::handleText(handle)
                                   : "board " + std::to_string(it->second);
    }
    void opened(const Call& c) {
        if (c.op().shape == zolt::Shape::open && c.returned && c.status == 0 && c.openedHandle)
            boards_[*c.openedHandle] = ++count_;
    }

   private:
    std::map<std::uint64_t, std::size_t> boards_;
    std::size_t count_ = 0;
};

class Differences {
   public:
    Differences(std::FILE* out, std::size_t max, std::string heading)
        : out_(out), max_(max), heading_(std::move(heading)) {}
    void add(const std::string& where, const std::string& what, const std::string& a,
             const std::string& b) {
        if (count_ == 0) print(out_, heading_);
        if (count_++ < max_) print(out_, where + ": " + what + ": " + a + " in A, " + b + " in B\n");
    }
    std::size_t count() const { return count_; }

   private:
    std::FILE* out_;
    std::size_t max_;
    std::string heading_;
    std::size_t count_ = 0;
};

std::string hexByte(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", b);
    return text;
}

// The record bytes in `compared` that differ, by the field that covers them.
void records(Differences& d, const std::string& where, const char* which, const Call& a,
             const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y,
             std::uint32_t compared) {
    std::uint32_t reported = 0;
    for (unsigned i = 0; i < x.size() && i < y.size(); ++i) {
        if (!(compared >> i & 1u) || x[i] == y[i] || (reported >> i & 1u)) continue;
        const auto covering = [&](zolt::Flow flow) -> const zolt::Field* {
            for (const zolt::Field& f : a.op().fields)
                if (f.flow == flow && i >= f.offset && i < f.offset + f.width) return &f;
            return nullptr;
        };
        const zolt::Flow flow = std::string_view(which) == "out" ? zolt::Flow::out : zolt::Flow::in;
        const zolt::Field* field = covering(flow);
        if (!field) field = covering(flow == zolt::Flow::out ? zolt::Flow::in : zolt::Flow::out);
        if (field) {
            for (unsigned b = field->offset; b < field->offset + field->width; ++b) reported |= 1u << b;
            d.add(where, std::string(which) + " " + std::string(field->name),
                  zolt::trace::fieldText(*field, x), zolt::trace::fieldText(*field, y));
        } else {
            d.add(where, std::string(which) + " byte " + std::to_string(i), hexByte(x[i]),
                  hexByte(y[i]));
        }
    }
}

void compare(Differences& d, const Call& a, const Call& b, const Boards& boardsA,
             const Boards& boardsB) {
    std::string where = "seq " + std::to_string(a.seq);
    if (b.seq != a.seq) where += " (seq " + std::to_string(b.seq) + " in B)";
    const zolt::Operation& op = a.op();
    where += " " + std::string(op.name);
    if (a.operation != b.operation) {
        d.add(where, "operation", std::string(op.name), std::string(b.op().name));
        return;
    }
    if (a.handle && b.handle && boardsA.name(*a.handle) != boardsB.name(*b.handle))
        d.add(where, "handle", boardsA.name(*a.handle), boardsB.name(*b.handle));
    if (a.value != b.value)
        d.add(where, "value", std::to_string(a.value.value_or(0)), std::to_string(b.value.value_or(0)));
    const std::uint32_t all = op.size >= 32 ? ~0u : (1u << op.size) - 1u;
    const std::uint32_t set = all & ~(a.unset | b.unset);
    records(d, where, "in", a, a.in, b.in, set);
    if (a.returned != b.returned) {
        d.add(where, "exit", a.returned ? "returned" : "no exit", b.returned ? "returned" : "no exit");
        return;
    }
    if (!a.returned) return;
    if (a.status != b.status) {
        d.add(where, "status", std::to_string(a.status), std::to_string(b.status));
        return;  // the outputs of different outcomes say nothing more
    }
    if (!outputsRead(a)) return;
    if (op.shape == zolt::Shape::open && a.boardValue != b.boardValue)
        d.add(where, "word4", a.boardValue ? std::to_string(*a.boardValue) : "none",
              b.boardValue ? std::to_string(*b.boardValue) : "none");
    records(d, where, "out", a, a.out, b.out, set | zolt::byteMask(op, zolt::Flow::out));
}

}  // namespace

int diff(const Options& o, std::FILE* out) {
    const Trace a = zolt::trace::read(o.files.at(0));
    const Trace b = zolt::trace::read(o.files.at(1));
    Differences d(out, o.maxDifferences, "A: " + a.file + "\nB: " + b.file + "\n");
    Boards boardsA, boardsB;
    const std::size_t common = std::min(a.calls.size(), b.calls.size());
    for (std::size_t i = 0; i < common; ++i) {
        compare(d, a.calls[i], b.calls[i], boardsA, boardsB);
        boardsA.opened(a.calls[i]);
        boardsB.opened(b.calls[i]);
    }
    if (a.calls.size() != b.calls.size()) {
        const bool aLonger = a.calls.size() > b.calls.size();
        const Call& first = (aLonger ? a : b).calls[common];
        d.add("seq " + std::to_string(first.seq) + " " + std::string(first.op().name), "calls",
              std::to_string(a.calls.size()), std::to_string(b.calls.size()));
    }
    if (d.count() == 0) return 0;
    if (d.count() > o.maxDifferences)
        print(out, "... " + std::to_string(d.count() - o.maxDifferences) + " more differences\n");
    return 1;
}

}  // namespace zolt_trace
