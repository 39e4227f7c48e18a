// libFuzzer entry for the trace reader: any input either reads or is refused
// with a ReadError naming a line; what is read holds together.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "reader.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "trace reader: %s\n", what);
    std::abort();
}

void check(const zolt::trace::Trace& t) {
    std::uint64_t previous = 0;
    for (const zolt::trace::Call& c : t.calls) {
        if (c.seq <= previous) broken("calls not in increasing seq order");
        previous = c.seq;
        if (c.operation >= zolt::operations.size()) broken("operation out of the table");
        const zolt::Operation& op = c.op();
        const bool record = op.shape == zolt::Shape::record;
        if (c.in.size() != (record ? op.size : 0u)) broken("entry record of the wrong size");
        if (c.out.size() != (record && c.returned ? op.size : 0u)) broken("exit record of the wrong size");
        if (op.size < 32 && (c.unset >> op.size) != 0) broken("unset bytes beyond the record");
        if (c.handle.has_value() == (op.shape == zolt::Shape::open)) broken("handle on the wrong shape");
        if (c.returned && c.exitLine <= c.line) broken("exit before its entry");
        for (const zolt::Field& f : op.fields) {
            (void)zolt::trace::fieldText(f, c.in);
            (void)zolt::trace::fieldText(f, c.out);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check(zolt::trace::parse(text, "fuzz"));
    } catch (const zolt::trace::ReadError& e) {
        if (e.file != "fuzz" || e.line == 0) broken("error without the file and line");
    }
    return 0;
}
