// timeline: the calls as Trace Event Format JSON, which Perfetto and
// chrome://tracing open: a lane per thread, a slice per call.
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "commands.h"

namespace zolt_trace {

using nlohmann::json;
using zolt::trace::Call;
using zolt::trace::Trace;

namespace {

void addFields(json& args, const Call& c, zolt::Flow flow, const std::vector<std::uint8_t>& bytes) {
    for (const zolt::Field& f : c.op().fields) {
        if (f.flow != flow) continue;
        const FieldValue v = fieldValue(f, bytes);
        if (v.real)
            args[std::string(f.name)] = v.value;  // NaN and infinities become null
        else
            args[std::string(f.name)] = v.integer;
    }
}

json event(const Trace& t, const Call& c) {
    const auto us = [&](std::int64_t ns) { return static_cast<double>(ns) / 1e3; };
    json args = {{"seq", c.seq}};
    if (c.handle) args["handle"] = zolt::trace::handleText(*c.handle);
    if (c.value) args["value"] = *c.value;
    if (c.op().shape == zolt::Shape::record) addFields(args, c, zolt::Flow::in, c.in);
    std::int64_t duration;
    if (c.returned) {
        args["status"] = c.status;
        if (c.openedHandle) args["openedHandle"] = zolt::trace::handleText(*c.openedHandle);
        if (c.boardValue) args["word4"] = *c.boardValue;
        if (c.op().shape == zolt::Shape::record && outputsRead(c))
            addFields(args, c, zolt::Flow::out, c.out);
        duration = c.duration;
    } else {
        // Runs to the end of the trace: it was still inside the driver then.
        args["returned"] = false;
        duration = std::max<std::int64_t>(t.endTime - c.enterTime, 0);
    }
    return {{"name", c.op().name},
            {"cat", "zolt"},
            {"ph", "X"},
            {"ts", us(c.enterTime - t.header.clock)},
            {"dur", us(duration)},
            {"pid", t.header.pid},
            {"tid", c.thread},
            {"args", std::move(args)}};
}

}  // namespace

int timeline(const Options& o, std::FILE* out) {
    const Trace t = zolt::trace::read(o.files.at(0));
    std::string text = "{\"traceEvents\":[\n";
    const auto add = [&](const json& e) {
        if (text.back() != '\n') text += ",\n";
        text += e.dump(-1, ' ', false, json::error_handler_t::replace);
    };
    add({{"name", "process_name"},
         {"ph", "M"},
         {"pid", t.header.pid},
         {"tid", 0},
         {"args", {{"name", "pid " + std::to_string(t.header.pid) + " " + t.header.driver}}}});
    std::set<std::uint64_t> threads;
    for (const Call& c : t.calls)
        if (threads.insert(c.thread).second)
            add({{"name", "thread_name"},
                 {"ph", "M"},
                 {"pid", t.header.pid},
                 {"tid", c.thread},
                 {"args", {{"name", "thread " + std::to_string(c.thread)}}}});
    for (const Call& c : t.calls) add(event(t, c));
    json other = {{"file", t.file},         {"os", t.header.os},       {"arch", t.header.arch},
                  {"start", t.header.start}, {"cutShort", t.cutShort}, {"version", t.header.version}};
    if (t.fullAt) other["fullAt"] = *t.fullAt;
    text += "\n],\"displayTimeUnit\":\"ns\",\"otherData\":" + other.dump(-1, ' ', false, json::error_handler_t::replace) + "}\n";

    if (o.output == "-") {
        print(out, text);
        return 0;
    }
    // Written only once the trace has been read: bad input leaves OUT alone.
    std::FILE* file = std::fopen(o.output.c_str(), "wb");
    if (!file) throw WriteError{"cannot create " + o.output + ": " + std::strerror(errno)};
    print(file, text);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed)
        throw WriteError{"cannot write " + o.output + ": " + std::strerror(errno)};
    return 0;
}

}  // namespace zolt_trace
