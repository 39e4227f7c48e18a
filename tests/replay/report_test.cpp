// The report's check, as `zolt-trace check-report` runs it: the verdict of
// reports the driver writes, and refusal of anything it would not write.
#include <gtest/gtest.h>

#include <string>

#include "replay_report.h"

using zolt::replay::checkReport;
using zolt::replay::OperationCounts;
using zolt::replay::Report;

namespace {

Report played() {
    Report r;
    r.trace = "/ci/run.jsonl";
    r.finished = true;
    r.operations["open"] = OperationCounts{1, 1, 0, 0, 0, 0};
    r.operations["getTime"] = OperationCounts{3, 3, 2, 0, 0, 0};
    r.operations["close"] = OperationCounts{1, 1, 0, 0, 0, 0};
    return r;
}

TEST(ReplayReport, VerdictOfWrittenReports) {
    const struct {
        const char* name;
        void (*change)(Report&);
        int status;
        std::string text;  // after "NAME: "
    } cases[] = {
        {"complete", [](Report&) {}, 0,
         "complete: 5 calls played from /ci/run.jsonl, 2 calls repeated from the last "
         "recording\n"},
        {"a recording left", [](Report& r) { r.operations["close"] = {1, 0, 0, 0, 1, 0}; }, 1,
         "incomplete replay of /ci/run.jsonl\n  close: 1 recording left unplayed\n"},
        {"calls not matched", [](Report& r) { r.operations["getAltitude"] = {0, 0, 0, 2, 0, 0}; },
         1,
         "incomplete replay of /ci/run.jsonl\n  getAltitude: 2 calls not matched by a "
         "recording\n"},
        {"not finished", [](Report& r) { r.finished = false; }, 1,
         "incomplete replay of /ci/run.jsonl\n  the host did not exit normally (the report is "
         "the one written at the start)\n"},
        {"a bad trace",
         [](Report& r) {
             r.operations.clear();
             r.error = "zolt replay: /ci/run.jsonl:3: not JSON";
         },
         1,
         "incomplete replay of /ci/run.jsonl\n  the trace could not be played: zolt replay: "
         "/ci/run.jsonl:3: not JSON\n"},
        // Unused recordings of calls that never returned do not make it incomplete.
        {"a call that never returned left",
         [](Report& r) { r.operations["waitEvent"] = {1, 0, 0, 0, 0, 1}; }, 0,
         "complete: 5 calls played from /ci/run.jsonl, 2 calls repeated from the last "
         "recording\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Report r = played();
        c.change(r);
        const auto verdict = checkReport(zolt::replay::reportText(r), "report.json");
        EXPECT_EQ(verdict.status, c.status) << verdict.text;
        EXPECT_EQ(verdict.text, "report.json: " + c.text);
    }
}

TEST(ReplayReport, AnythingElseIsBadInput) {
    std::string good = zolt::replay::reportText(played());
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"empty", "", "not JSON"},
        {"cut short", good.substr(0, good.size() / 2), "not JSON"},
        {"another JSON object", R"({"trace":"zolt","version":1})", "not a replay report"},
        {"a later version", replaced("\"version\":1", "\"version\":2"), "report version 2"},
        {"no trace", replaced("\"trace\":", "\"trice\":"), "has no \"trace\""},
        {"a negative count", replaced("\"unplayed\":0", "\"unplayed\":-1"),
         "\"unplayed\" is not a whole number"},
        {"totals that do not add up", replaced("\"played\":5", "\"played\":4"),
         "\"played\" is 4 but the operations add up to 5"},
        {"a verdict that disagrees", replaced("\"complete\":true", "\"complete\":false"),
         "\"complete\" disagrees with the counts"},
        {"an operation without counts", replaced("\"close\":{\"recorded\":1,", "\"close\":{"),
         "operation \"close\": has no \"recorded\""},
        {"an error of the wrong type", replaced("\"error\":null", "\"error\":3"),
         "\"error\" is neither null nor a string"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto verdict = checkReport(c.text, "r.json");
        EXPECT_EQ(verdict.status, 2) << verdict.text;
        EXPECT_EQ(verdict.text.rfind("r.json: " + c.message, 0), 0u) << verdict.text;
    }
    const auto missing =
        zolt::replay::checkReportFile(::testing::TempDir() + "no-such-report.json");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.text.find("no-such-report.json: cannot be read"), std::string::npos);
}

}  // namespace
