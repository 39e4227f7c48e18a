#include "engine.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "driver/interface.h"

namespace zolt::replay {

namespace {

const Operation& operationAt(std::size_t index) { return zolt::operations[index]; }

std::uint64_t littleEndian(const std::uint8_t* bytes, unsigned width) {
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = v << 8 | bytes[i];
    return v;
}

template <class T>
std::string shortest(T value) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

// A field's value as the record holds it, for messages.
std::string fieldValue(const Field& f, const std::uint8_t* record) {
    const std::uint8_t* at = record + f.offset;
    const std::uint64_t raw = littleEndian(at, f.width);
    switch (f.kind) {
        case Kind::unsigned_integer:
            return std::to_string(raw);
        case Kind::signed_integer: {
            const unsigned shift = 64u - 8u * f.width;
            return std::to_string(static_cast<std::int64_t>(raw << shift) >> shift);
        }
        case Kind::real:
            if (f.width == 4) {
                float v;
                std::memcpy(&v, at, 4);
                return shortest(v);
            } else {
                double v;
                std::memcpy(&v, at, 8);
                return shortest(v);
            }
    }
    return {};
}

std::string handleText(std::uint64_t handle) {
    char buffer[24];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, handle, 16);
    return "0x" + std::string(buffer, r.ptr);
}

std::string targetText(Target t, bool live) {
    if (t.board) return "board " + std::to_string(t.id);
    return "handle " + handleText(t.id) +
           (live ? " (not issued by the replay driver)" : " (no recorded open returned it)");
}

struct Difference {
    std::string name, recorded;
};

}  // namespace

Engine::Engine(trace::Trace trace, Exhausted exhausted)
    : trace_(std::move(trace)),
      exhausted_(exhausted),
      targets_(trace_.calls.size()),
      openedBoard_(trace_.calls.size()),
      used_(trace_.calls.size()),
      live_(zolt::operations.size()) {
    // Boards by order of successful opens; a handle value belongs to the
    // latest open that returned it, since a driver may hand out a closed
    // board's handle again.
    std::unordered_map<std::uint64_t, std::uint64_t> boardOf;
    std::uint64_t boards = 0;
    for (std::size_t i = 0; i < trace_.calls.size(); ++i) {
        const trace::Call& c = trace_.calls[i];
        if (operationAt(c.operation).shape == Shape::open) {
            if (c.returned && c.status == 0 && c.openedHandle) {
                openedBoard_[i] = ++boards;
                boardOf[*c.openedHandle] = boards;
            }
            queues_[keyOf(c.operation, {}, c.value.value_or(0), nullptr)].calls.push_back(i);
            continue;
        }
        const std::uint64_t handle = c.handle.value_or(0);
        const auto it = boardOf.find(handle);
        targets_[i] = it != boardOf.end() ? Target{true, it->second} : Target{false, handle};
        queues_[keyOf(c.operation, targets_[i], c.value.value_or(0),
                      c.in.size() == operationAt(c.operation).size ? c.in.data() : nullptr)]
            .calls.push_back(i);
    }
}

std::string Engine::keyOf(std::size_t operation, Target target, std::uint64_t value,
                          const std::uint8_t* in) const {
    const Operation& op = operationAt(operation);
    std::string key(1, static_cast<char>(operation));
    const auto append = [&key](std::uint64_t v) {
        for (int i = 0; i < 8; ++i) key.push_back(static_cast<char>(v >> (8 * i)));
    };
    if (op.shape != Shape::open) {
        key.push_back(target.board ? 'b' : 'h');
        append(target.id);
    }
    switch (op.shape) {
        case Shape::open:
        case Shape::value:
            append(value);
            break;
        case Shape::handle:
            break;
        case Shape::record: {
            // Bytes the layer leaves unset hold whatever was on its stack.
            const std::uint32_t unset = unsetMask(op);
            for (unsigned b = 0; b < op.size; ++b)
                key.push_back(in && !(unset >> b & 1u) ? static_cast<char>(in[b]) : '\0');
            break;
        }
    }
    return key;
}

std::string Engine::describe(const Request& r) const {
    const Operation& op = operationAt(r.operation);
    std::string text(op.name);
    if (op.shape == Shape::open) return text + " (value " + std::to_string(r.value) + ")";
    text += " on " + targetText(r.target, true);
    if (op.shape == Shape::value) text += " (value " + std::to_string(r.value) + ")";
    if (op.shape == Shape::record && r.in) {
        std::string inputs;
        for (const Field& f : op.fields)
            if (f.flow == Flow::in)
                inputs +=
                    (inputs.empty() ? "" : " ") + std::string(f.name) + "=" + fieldValue(f, r.in);
        if (!inputs.empty()) text += " (" + inputs + ")";
    }
    return text;
}

std::string Engine::where(std::size_t line) const {
    return trace_.file + ":" + std::to_string(line);
}

std::string Engine::describe(std::size_t i) const {
    const trace::Call& c = trace_.calls[i];
    const Operation& op = operationAt(c.operation);
    std::string text = where(c.line) + " " + std::string(op.name);
    if (op.shape != Shape::open) text += " on " + targetText(targets_[i], false);
    return text;
}

std::string Engine::nearest(const Request& r) const {
    const Operation& op = operationAt(r.operation);
    std::size_t best = trace_.calls.size();
    std::vector<Difference> bestDiffs;
    for (std::size_t i = 0; i < trace_.calls.size(); ++i) {
        const trace::Call& c = trace_.calls[i];
        if (c.operation != r.operation) continue;
        std::vector<Difference> diffs;
        if (op.shape != Shape::open &&
            (targets_[i].board != r.target.board || targets_[i].id != r.target.id))
            diffs.push_back({"board", targetText(targets_[i], false)});
        if ((op.shape == Shape::open || op.shape == Shape::value) && c.value.value_or(0) != r.value)
            diffs.push_back({"value", std::to_string(c.value.value_or(0))});
        if (op.shape == Shape::record && r.in && c.in.size() == op.size)
            for (const Field& f : op.fields)
                if (f.flow == Flow::in &&
                    std::memcmp(c.in.data() + f.offset, r.in + f.offset, f.width) != 0)
                    diffs.push_back({std::string(f.name), fieldValue(f, c.in.data())});
        if (best == trace_.calls.size() || diffs.size() < bestDiffs.size()) {
            best = i;
            bestDiffs = std::move(diffs);
        }
    }
    if (best == trace_.calls.size())
        return "; the trace holds no " + std::string(op.name) + " call";
    std::string text = "; nearest: " + describe(best);
    for (std::size_t k = 0; k < bestDiffs.size(); ++k)
        text += (k ? ", " : ", differs in ") + bestDiffs[k].name + " (recorded " +
                bestDiffs[k].recorded + ")";
    return text;
}

Answer Engine::answer(const Request& r) {
    const Operation& op = operationAt(r.operation);
    OperationCounts& counts = live_[r.operation];
    const auto notRecorded = [&](std::string why) {
        ++counts.notMatched;
        Answer a;
        a.message = "zolt replay: not recorded: " + describe(r) + why;
        return a;
    };
    if (op.shape == Shape::record && r.in == nullptr)
        return notRecorded(": the record address is null");

    const auto it = queues_.find(keyOf(r.operation, r.target, r.value, r.in));
    if (it == queues_.end()) return notRecorded(nearest(r));
    Queue& q = it->second;
    std::size_t index;
    bool repeat = false;
    if (q.next < q.calls.size()) {
        index = q.calls[q.next++];
    } else if (exhausted_ == Exhausted::repeatLast) {
        index = q.calls.back();
        repeat = true;
    } else {
        const trace::Call& last = trace_.calls[q.calls.back()];
        const std::size_t n = q.calls.size();
        return notRecorded(": its " + std::string(n == 1 ? "recording is" : "recordings are") +
                           " used up (" + std::to_string(n) + ", the last at " + where(last.line) +
                           "; ZOLT_REPLAY_EXHAUSTED=fail)");
    }
    const trace::Call& c = trace_.calls[index];
    used_[index] = true;
    if (!c.returned) {
        ++counts.notMatched;
        Answer a;
        a.message = "zolt replay: not replayable: " + describe(r) + ": the recorded call at " +
                    where(c.line) + " never returned";
        return a;
    }
    ++(repeat ? counts.repeated : counts.played);
    Answer a;
    a.played = true;
    a.call = &c;
    a.openedBoard = openedBoard_[index];
    return a;
}

std::map<std::string, OperationCounts, std::less<>> Engine::counts() const {
    std::map<std::string, OperationCounts, std::less<>> result;
    std::vector<OperationCounts> all = live_;
    for (std::size_t i = 0; i < trace_.calls.size(); ++i) {
        const trace::Call& c = trace_.calls[i];
        OperationCounts& o = all[c.operation];
        ++o.recorded;
        if (!used_[i]) ++(c.returned ? o.unplayed : o.notReturned);
    }
    for (std::size_t k = 0; k < all.size(); ++k) {
        const OperationCounts& o = all[k];
        if (o.recorded || o.played || o.repeated || o.notMatched)
            result.emplace(std::string(operationAt(k).name), o);
    }
    return result;
}

}  // namespace zolt::replay
