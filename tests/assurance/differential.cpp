#include "differential.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "recording.h"

#if defined(__SANITIZE_ADDRESS__)
#define LVZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LVZ_ASAN 1
#endif
#endif
#if defined(LVZ_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace differential {
namespace {

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t take(std::size_t bytes) {
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < bytes; ++k) {
            const std::uint64_t b = at_ < size_ ? data_[at_] : 0;
            ++at_;
            v |= b << (8 * k);
        }
        return v;
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(take(1)); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A board record whose only readable bytes, when built with ASan, are its
// 16-bit field at offset 4: the field starts an 8-byte granule and
// everything around it is poisoned, so a read of any other byte of the board
// record (or of the field at a wider width) is reported.
class Board {
public:
    Board() {
#if defined(LVZ_ASAN)
        ASAN_POISON_MEMORY_REGION(block_, sizeof block_);
        ASAN_UNPOISON_MEMORY_REGION(block_ + kField, 2);
#endif
    }
    void setField(const std::uint8_t (&field)[2]) { std::memcpy(block_ + kField, field, 2); }
    LV_ZOLT_Handle handle() { return reinterpret_cast<LV_ZOLT_Handle>(block_ + kField - 4); }
    // The board record's bytes as the model reads them (offset 4 and 5 only).
    const std::uint8_t* record() const { return fieldCopy_; }
    void snapshot() {
        std::memset(fieldCopy_, 0, sizeof fieldCopy_);
        std::memcpy(fieldCopy_ + 4, block_ + kField, 2);
    }

private:
    static constexpr std::size_t kField = 16;
    alignas(16) std::uint8_t block_[32] = {};
    std::uint8_t fieldCopy_[8] = {};
};

Board& board() {
    static Board b;
    return b;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

recording::Op opNamed(const char* name) {
    for (std::size_t i = 0; i < recording::kOperationCount; ++i) {
        const auto op = static_cast<recording::Op>(i);
        if (std::strcmp(recording::name(op), name) == 0) return op;
    }
    return recording::Op::count;
}

// The stand-in's operation for each driver name, looked up once (and so
// kept out of what the fuzzer's comparison tracing sees).
recording::Op opFor(const char* name) {
    static std::vector<std::pair<const char*, recording::Op>> known;
    for (const auto& [n, op] : known)
        if (n == name) return op;
    known.emplace_back(name, opNamed(name));
    return known.back().second;
}

std::size_t outWidth(const model::Export& e, std::size_t arg) {
    for (const model::Out& o : e.outs)
        if (o.arg == arg) return o.width;
    return 1;
}

std::string runOnce(const model::Export& e, const Case& k, std::uint8_t flip) {
    std::ostringstream diff;
    const recording::Op op = opFor(e.driverOp);
    if (op == recording::Op::count) return std::string("no driver operation ") + e.driverOp + "\n";
    const auto status = static_cast<std::uint8_t>(k.statusRegister);
    const bool isOpen = e.shape == model::Shape::open;

    recording::reset();
    recording::Script& s = recording::script(op);
    s.statusRegister = k.statusRegister;
    // A successful open must deliver a readable board; anything else may be
    // any value at all, which the layer must never read through.
    s.fill = k.driverWrites || (isOpen && status == 0);
    std::copy(std::begin(k.record), std::end(k.record), s.bytes.begin());
    if (e.shape == model::Shape::record) s.span = e.recordSize;
    board().setField(k.boardField);
    board().snapshot();
    s.openHandle = status == 0 ? board().handle() : static_cast<LV_ZOLT_Handle>(k.failedOpenHandle);

    std::vector<std::uint8_t> area(kAreaSize);
    for (std::size_t i = 0; i < kAreaSize; ++i)
        area[i] = static_cast<std::uint8_t>((k.canarySeed + 37 * i) ^ flip);
    std::vector<std::uint8_t> expected = area;
    model::Call c = k.call;
    c.area = area.data();
    for (const model::Out& o : e.outs)
        if (c.outAt[o.arg] + o.width > kAreaSize)
            return "out-parameter " + std::to_string(o.arg) + " lies outside the host's area\n";

    const std::uint8_t result = e.call(c);

    const recording::Arrival& a = recording::arrival(op);
    if (result != status) diff << "result " << int{result} << ", expected " << int{status} << "\n";
    if (recording::totalCalls() != 1 || a.calls != 1)
        diff << "driver calls: " << recording::totalCalls() << " in all, " << a.calls << " of "
             << e.driverOp << "; expected exactly one\n";
    if (!isOpen && a.handle != c.handle)
        diff << "handle " << a.handle << " reached the driver, expected " << c.handle << "\n";
    if ((e.shape == model::Shape::value || isOpen) && a.value != std::uintptr_t{c.slot(2)})
        diff << "value " << a.value << " reached the driver, expected " << c.slot(2) << "\n";

    std::vector<std::uint8_t> after;
    if (e.shape == model::Shape::record || isOpen) {
        const std::vector<std::uint8_t> want = model::arrival(e, c);
        const auto* address = static_cast<const std::uint8_t*>(a.address);
        if (address == nullptr) diff << "the driver got no record address\n";
        if (address >= area.data() && address < area.data() + kAreaSize)
            diff << "the driver got an address in the host's area, not the layer's own storage\n";
        if (a.size != want.size() || !std::equal(want.begin(), want.end(), a.record.begin()))
            diff << "record on arrival " << hex(a.record.data(), a.size) << ", expected "
                 << hex(want.data(), want.size()) << "\n";
        after = want;
        if (s.fill) {
            const auto* from = isOpen ? reinterpret_cast<const std::uint8_t*>(&s.openHandle)
                                      : s.bytes.data();
            after.assign(from, from + e.recordSize);
        }
    }
    model::hostWrites(e, c, status, after, board().record(), expected.data());
    if (area != expected)
        diff << "host area " << hex(area.data(), kAreaSize) << "\n     expected "
             << hex(expected.data(), kAreaSize) << "\n";
    return diff.str();
}

}  // namespace

Case decode(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    Case k;
    k.exportIndex = r.byte() % model::exports().size();
    k.driverWrites = (r.byte() & 1) == 0;
    k.statusRegister = static_cast<std::uint32_t>(r.take(4));
    k.call.handle = static_cast<LV_ZOLT_Handle>(r.take(8));
    for (std::size_t arg = 2; arg <= 9; ++arg) k.call.args[arg] = r.take(8);
    const model::Export& e = model::exports()[k.exportIndex];
    for (std::size_t arg = 1; arg <= 9; ++arg) {
        const std::size_t room = kAreaSize - outWidth(e, arg) + 1;
        k.call.outAt[arg] = r.byte() % room;
    }
    for (std::uint8_t& b : k.record) b = r.byte();
    k.failedOpenHandle = r.take(8);
    for (std::uint8_t& b : k.boardField) b = r.byte();
    k.canarySeed = r.byte();
    return k;
}

std::string check(const model::Export& e, const Case& k) {
    std::string report;
    for (std::uint8_t flip : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        const std::string d = runOnce(e, k, flip);
        if (!d.empty()) report += std::string(e.name) + " (canaries ^" + hex(&flip, 1) + "):\n" + d;
    }
    return report;
}

std::string check(const std::uint8_t* data, std::size_t size) {
    const Case k = decode(data, size);
    std::string report = check(model::exports()[k.exportIndex], k);
    if (!report.empty()) report += "input " + hex(data, size) + "\n";
    return report;
}

}  // namespace differential
