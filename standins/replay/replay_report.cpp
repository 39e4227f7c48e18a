#include "replay_report.h"

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

namespace zolt::replay {

namespace {

using Json = nlohmann::ordered_json;

// The counters in the order the report writes them, with their names.
constexpr std::array<std::pair<const char*, std::uint64_t OperationCounts::*>, 5> kTotals{{
    {"played", &OperationCounts::played},
    {"repeated", &OperationCounts::repeated},
    {"notMatched", &OperationCounts::notMatched},
    {"unplayed", &OperationCounts::unplayed},
    {"notReturned", &OperationCounts::notReturned},
}};

Json countsJson(const OperationCounts& c, bool withRecorded) {
    Json j = Json::object();
    if (withRecorded) j["recorded"] = c.recorded;
    for (const auto& [name, member] : kTotals) j[name] = c.*member;
    return j;
}

struct BadReport {
    std::string message;
};

const Json& member(const Json& object, const char* key, Json::value_t type, const char* where) {
    const auto it = object.find(key);
    if (it == object.end()) throw BadReport{std::string(where) + "has no \"" + key + "\""};
    const bool ok =
        type == Json::value_t::number_unsigned ? it->is_number_unsigned() : it->type() == type;
    if (!ok) {
        const char* expected = type == Json::value_t::number_unsigned ? "a whole number >= 0"
                               : type == Json::value_t::boolean       ? "true or false"
                               : type == Json::value_t::string        ? "a string"
                                                                      : "an object";
        throw BadReport{std::string(where) + "\"" + key + "\" is not " + expected};
    }
    return *it;
}

OperationCounts countsFrom(const Json& j, bool withRecorded, const std::string& where) {
    OperationCounts c;
    const std::string prefix = where.empty() ? "" : where + ": ";
    if (withRecorded)
        c.recorded = member(j, "recorded", Json::value_t::number_unsigned, prefix.c_str())
                         .get<std::uint64_t>();
    for (const auto& [name, field] : kTotals)
        c.*field =
            member(j, name, Json::value_t::number_unsigned, prefix.c_str()).get<std::uint64_t>();
    return c;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

OperationCounts Report::total() const {
    OperationCounts t;
    for (const auto& [name, c] : operations) {
        t.recorded += c.recorded;
        for (const auto& [key, field] : kTotals) t.*field += c.*field;
    }
    return t;
}

bool Report::complete() const {
    const OperationCounts t = total();
    return finished && !error && t.notMatched == 0 && t.unplayed == 0;
}

std::string reportText(const Report& report) {
    Json j;
    j["report"] = "zolt-replay";
    j["version"] = 1;
    j["trace"] = report.trace;
    j["finished"] = report.finished;
    j["error"] = report.error ? Json(*report.error) : Json(nullptr);
    j["exhausted"] = report.exhausted;
    j["timing"] = report.timing;
    const OperationCounts total = report.total();
    for (const auto& [name, member] : kTotals) j[name] = total.*member;
    j["complete"] = report.complete();
    Json ops = Json::object();
    for (const auto& [name, c] : report.operations) ops[name] = countsJson(c, true);
    j["operations"] = ops;
    // Invalid UTF-8 in a file name is replaced rather than refused.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Verdict checkReport(std::string_view text, std::string_view name) {
    const std::string file(name);
    Report r;
    try {
        Json j;
        try {
            j = Json::parse(text);
        } catch (const Json::parse_error& e) {
            throw BadReport{std::string("not JSON: ") + e.what()};
        }
        if (!j.is_object() || !j.contains("report") || j["report"] != "zolt-replay")
            throw BadReport{"not a replay report (no \"report\":\"zolt-replay\")"};
        if (!j.contains("version") || j["version"] != 1)
            throw BadReport{"report version " +
                            (j.contains("version") ? j["version"].dump() : "missing") +
                            " is not 1"};
        r.trace = member(j, "trace", Json::value_t::string, "").get<std::string>();
        r.finished = member(j, "finished", Json::value_t::boolean, "").get<bool>();
        if (!j.contains("error")) throw BadReport{"has no \"error\""};
        if (!j["error"].is_null()) {
            if (!j["error"].is_string()) throw BadReport{"\"error\" is neither null nor a string"};
            r.error = j["error"].get<std::string>();
        }
        for (const auto& [key, value] : member(j, "operations", Json::value_t::object, "").items())
            r.operations[key] = countsFrom(value, true, "operation \"" + key + "\"");
        // The totals and the verdict the driver wrote must agree with the
        // counts: a report edited by hand or cut short is not believed.
        const OperationCounts written = countsFrom(j, false, "");
        const OperationCounts sum = r.total();
        for (const auto& [key, field] : kTotals)
            if (written.*field != sum.*field)
                throw BadReport{"\"" + std::string(key) + "\" is " +
                                std::to_string(written.*field) + " but the operations add up to " +
                                std::to_string(sum.*field)};
        if (member(j, "complete", Json::value_t::boolean, "").get<bool>() != r.complete())
            throw BadReport{"\"complete\" disagrees with the counts"};
    } catch (const BadReport& e) {
        return {2, file + ": " + e.message + "\n"};
    }

    const OperationCounts t = r.total();
    if (r.complete())
        return {0, file + ": complete: " + plural(t.played, "call", "calls") + " played from " +
                       r.trace +
                       (t.repeated ? ", " + plural(t.repeated, "call", "calls") +
                                         " repeated from the last recording"
                                   : "") +
                       "\n"};
    std::ostringstream out;
    out << file << ": incomplete replay of " << r.trace << "\n";
    if (r.error) out << "  the trace could not be played: " << *r.error << "\n";
    if (!r.finished)
        out << "  the host did not exit normally (the report is the one written at the start)\n";
    for (const auto& [op, c] : r.operations) {
        if (c.notMatched)
            out << "  " << op << ": " << plural(c.notMatched, "call", "calls")
                << " not matched by a recording\n";
        if (c.unplayed)
            out << "  " << op << ": " << plural(c.unplayed, "recording", "recordings")
                << " left unplayed\n";
    }
    return {1, out.str()};
}

Verdict checkReportFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {2, path + ": cannot be read\n"};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return {2, path + ": cannot be read\n"};
    return checkReport(text.str(), path);
}

int checkReportCommand(const std::string& path, std::FILE* out, std::FILE* err) {
    const Verdict v = checkReportFile(path);
    std::fputs(((v.status == 2 ? "zolt-trace: " : "") + v.text).c_str(), v.status == 2 ? err : out);
    return v.status;
}

}  // namespace zolt::replay
