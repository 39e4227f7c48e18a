// The trace reader over handcrafted traces: every shape of operation, calls
// from two threads written out of order, what a killed process leaves behind
// (NUL bytes, an unterminated line, a call that never returned), the full
// marker, and a table of damaged and foreign traces with the message each
// gets.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "reader.h"

namespace {

using namespace std::string_literals;
using zolt::trace::parse;
using zolt::trace::ReadError;
using zolt::trace::Trace;

const std::string kHeader =
    R"({"trace":"zolt","version":1,"pid":4242,"os":"linux","arch":"x86_64","driver":"/opt/zolt/libzolt.so","start":"2026-12-11T11:40:00.123456Z","clock_ns":1000000,"limit":65536})"
    "\n";

// getTime's record with real0=12.5 byte9=3 byte10=14 word12=73.
const std::string kTimeOut = "000000000000294000030e0049000000";

// A waitEvent record: a wait without limit, nothing else set.
const std::string kWaitIn = "ffffffff" + std::string(40, '0');

// Six calls: open; thread 5679's setOscillator (seq 3) entered before thread
// 5678's getTime (seq 2) although numbered later; a setTime; a waitEvent that
// never returned; a close.
std::string validTrace() {
    return kHeader +
           R"({"ev":"enter","seq":1,"t":2000000,"tid":5678,"op":"open","value":0}
{"ev":"exit","seq":1,"t":2000900,"tid":5678,"status":0,"dur":800,"handle":"0x5581a2b0","word4":4100}
{"ev":"enter","seq":3,"t":2100000,"tid":5679,"op":"setOscillator","handle":"0x5581a2b0","value":4294967295}
{"ev":"enter","seq":2,"t":2100100,"tid":5678,"op":"getTime","handle":"0x5581a2b0","in":"00000000000000000000000000000000","unset":"0-15"}
{"ev":"exit","seq":2,"t":2101200,"tid":5678,"status":0,"dur":1050,"out":")" +
           kTimeOut + R"("}
{"ev":"exit","seq":3,"t":2101300,"tid":5679,"status":9,"dur":1200}
{"ev":"enter","seq":4,"t":2200000,"tid":5678,"op":"setTime","handle":"0x5581a2b0","in":"abababababababab000c1e00e8030000","unset":"0-7"}
{"ev":"exit","seq":4,"t":2200500,"tid":5678,"status":0,"dur":400,"out":"abababababababab000c1e00e8030000"}
{"ev":"enter","seq":5,"t":2300000,"tid":5679,"op":"waitEvent","handle":"0x5581a2b0","in":")" +
           kWaitIn + R"(","unset":"4-23"}
{"ev":"enter","seq":6,"t":2400000,"tid":5678,"op":"close","handle":"0x5581a2b0"}
{"ev":"exit","seq":6,"t":2400100,"tid":5678,"status":0,"dur":90}
)";
}

TEST(TraceReader, ReadsEveryShapeOfOperationInSeqOrder) {
    const Trace t = parse(validTrace(), "valid.trace");
    EXPECT_EQ(t.file, "valid.trace");
    EXPECT_EQ(t.header.version, 1);
    EXPECT_EQ(t.header.pid, 4242);
    EXPECT_EQ(t.header.os, "linux");
    EXPECT_EQ(t.header.arch, "x86_64");
    EXPECT_EQ(t.header.driver, "/opt/zolt/libzolt.so");
    EXPECT_EQ(t.header.start, "2026-12-11T11:40:00.123456Z");
    EXPECT_EQ(t.header.clock, 1000000);
    EXPECT_EQ(t.header.limit, 65536u);
    EXPECT_FALSE(t.cutShort);
    EXPECT_FALSE(t.fullAt);
    EXPECT_EQ(t.endTime, 2400100);
    ASSERT_EQ(t.calls.size(), 6u);
    for (std::size_t i = 0; i < t.calls.size(); ++i) EXPECT_EQ(t.calls[i].seq, i + 1);

    const auto& open = t.calls[0];
    EXPECT_EQ(open.op().name, "open");
    EXPECT_EQ(open.line, 2u);
    EXPECT_FALSE(open.handle);
    EXPECT_EQ(open.value, 0u);
    EXPECT_TRUE(open.returned);
    EXPECT_EQ(open.openedHandle, 0x5581a2b0u);
    EXPECT_EQ(open.boardValue, 4100);
    EXPECT_EQ(open.duration, 800);

    const auto& time = t.calls[1];
    EXPECT_EQ(time.op().name, "getTime");
    EXPECT_EQ(time.line, 5u);
    EXPECT_EQ(time.thread, 5678u);
    EXPECT_EQ(time.handle, 0x5581a2b0u);
    EXPECT_FALSE(time.value);
    EXPECT_EQ(time.in, std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(time.unset, 0xFFFFu);
    EXPECT_EQ(time.enterTime, 2100100);
    EXPECT_EQ(time.exitTime, 2101200);
    EXPECT_EQ(time.duration, 1050);
    EXPECT_EQ(zolt::trace::hexText(time.out), kTimeOut);
    const auto& fields = time.op().fields;
    EXPECT_EQ(zolt::trace::fieldText(fields[0], time.out), "12.5");
    EXPECT_EQ(zolt::trace::fieldText(fields[3], time.out), "73");

    const auto& oscillator = t.calls[2];
    EXPECT_EQ(oscillator.thread, 5679u);
    EXPECT_EQ(oscillator.line, 4u);
    EXPECT_EQ(oscillator.value, 0xFFFFFFFFu);
    EXPECT_EQ(oscillator.status, 9);
    EXPECT_TRUE(oscillator.out.empty());

    EXPECT_EQ(t.calls[3].unset, 0xFFu);
    EXPECT_EQ(t.calls[3].in[8], 0x00);
    EXPECT_EQ(t.calls[3].in[9], 0x0c);

    const auto& wait = t.calls[4];
    EXPECT_EQ(wait.op().name, "waitEvent");
    EXPECT_FALSE(wait.returned);
    EXPECT_EQ(wait.in.size(), 24u);
    EXPECT_EQ(wait.unset, 0xFFFFF0u);
    EXPECT_TRUE(wait.out.empty());

    const auto& close = t.calls[5];
    EXPECT_EQ(close.op().name, "close");
    EXPECT_EQ(close.handle, 0x5581a2b0u);
    EXPECT_FALSE(close.value);
    EXPECT_TRUE(close.returned);
}

// A failed open leaves no board value to read; the handle is still recorded.
TEST(TraceReader, FailedOpenNeedsNoBoardValue) {
    const Trace t = parse(kHeader + R"({"ev":"enter","seq":1,"t":5,"tid":1,"op":"open","value":7}
{"ev":"exit","seq":1,"t":6,"tid":1,"status":3,"dur":1,"handle":"0x0"}
)",
                          "f");
    ASSERT_EQ(t.calls.size(), 1u);
    EXPECT_EQ(t.calls[0].status, 3);
    EXPECT_EQ(t.calls[0].openedHandle, 0u);
    EXPECT_FALSE(t.calls[0].boardValue);
}

// What a killed process leaves: the unused rest of the mapping (NUL bytes),
// a line written in part, a line's reserved space never written between two
// whole lines. None is an error; the first two mark the trace cut short.
TEST(TraceReader, ToleratesWhatAKillLeaves) {
    const std::string body = validTrace();
    {
        const Trace t = parse(body + std::string(4096, '\0'), "padded");
        EXPECT_TRUE(t.cutShort);
        EXPECT_EQ(t.calls.size(), 6u);
    }
    {
        const Trace t = parse(body + R"({"ev":"enter","seq":7,"t":25)" + std::string(80, '\0'),
                              "partial");
        EXPECT_TRUE(t.cutShort);
        EXPECT_EQ(t.calls.size(), 6u);
    }
    {
        const Trace t = parse(body + R"({"ev":"enter","seq":7,"t":25)", "unterminated");
        EXPECT_TRUE(t.cutShort);
    }
    {
        // NUL bytes between lines are skipped and count as no line: the
        // damage after them is reported on line 3.
        const std::string gap = kHeader +
                                R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"close","handle":"0x1"})"
                                "\n" + std::string(50, '\0') +
                                R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1})"
                                "\n";
        const Trace t = parse(gap, "gap");
        EXPECT_FALSE(t.cutShort);
        ASSERT_EQ(t.calls.size(), 1u);
        EXPECT_TRUE(t.calls[0].returned);
        EXPECT_EQ(t.calls[0].exitLine, 3u);
        try {
            parse(gap + "oops\n", "gap");
            FAIL() << "damage after the gap was not reported";
        } catch (const ReadError& e) {
            EXPECT_EQ(e.line, 4u);
        }
    }
}

TEST(TraceReader, FullMarkerEndsTheTrace) {
    const Trace t = parse(kHeader + R"({"ev":"enter","seq":1,"t":10,"tid":1,"op":"getDriver","handle":"0x10","value":3}
{"ev":"enter","seq":2,"t":20,"tid":2,"op":"simEvent","handle":"0x10"}
{"ev":"exit","seq":1,"t":30,"tid":1,"status":0,"dur":15}
{"ev":"full","seq":3,"t":40}
)" + std::string(100, '\0'),
                          "full");
    EXPECT_EQ(t.fullAt, 3u);
    EXPECT_EQ(t.endTime, 40);
    ASSERT_EQ(t.calls.size(), 2u);
    EXPECT_TRUE(t.calls[0].returned);
    EXPECT_FALSE(t.calls[1].returned);
}

struct Damaged {
    const char* what;
    std::string text;
    const char* message;  // the whole of what(), or its start when it ends in "..."
};

const std::string kEnter1 =
    R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"getTime","handle":"0x1","in":"00000000000000000000000000000000","unset":"0-15"})"
    "\n";

std::string enterTime(const std::string& in, const std::string& unset = "0-15") {
    return R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"getTime","handle":"0x1","in":")" + in +
           R"(","unset":")" + unset + "\"}\n";
}

std::string line(const std::string& json) { return json + "\n"; }

TEST(TraceReader, NamesFileAndLineOfEveryDamage) {
    const std::string exit1 =
        R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1,"out":"00000000000000000000000000000000"})"
        "\n";
    const Damaged cases[] = {
        {"empty file", "", "t.trace:1: not a zolt trace (no header line)"},
        {"only NUL bytes", std::string(64, '\0'), "t.trace:1: not a zolt trace (no header line)"},
        {"not JSON at all", "PK\x03\x04 zip\n", "t.trace:1: not a zolt trace (the first line is not JSON)"},
        {"JSON but no header", kEnter1,
         "t.trace:1: not a zolt trace (the first line is not a trace header)"},
        {"another program's JSON", line(R"({"trace":"other","version":1})"),
         "t.trace:1: not a zolt trace (the first line is not a trace header)"},
        {"a JSON array", "[1,2]\n", "t.trace:1: not a zolt trace (the first line is not a JSON object)"},
        {"version 2", line(R"({"trace":"zolt","version":2,"pid":1})"),
         "t.trace:1: trace version 2 is not supported (this reader reads version 1)"},
        {"header without limit",
         line(R"({"trace":"zolt","version":1,"pid":1,"os":"linux","arch":"i386","driver":"d","start":"s","clock_ns":0})"),
         "t.trace:1: missing key \"limit\""},
        {"header pid as text",
         line(R"({"trace":"zolt","version":1,"pid":"1","os":"linux","arch":"i386","driver":"d","start":"s","clock_ns":0,"limit":1})"),
         "t.trace:1: \"pid\" must be an integer, not a string"},
        {"event not JSON", kHeader + "{\"ev\":\"enter\",\n", "t.trace:2: not JSON at column 15: ..."},
        {"number beyond a double", kHeader + line(R"({"ev":"enter","seq":1,"t":5e8030000})"),
         "t.trace:2: not JSON: number overflow parsing '5e8030000'"},
        {"header number beyond a double", line(R"({"trace":"zolt","version":1e999})"),
         "t.trace:1: not a zolt trace (the first line is not JSON)"},
        {"event not an object", kHeader + "17\n", "t.trace:2: not a JSON object but an unsigned integer"},
        {"empty line", kHeader + kEnter1 + "\n", "t.trace:3: empty line"},
        {"NUL inside a line", kHeader + "{\"ev\":\"en\0ter\"}\n"s,
         "t.trace:2: damaged line: NUL byte at column 10"},
        {"line written in part, then a whole line",
         kHeader + "{\"ev\":\"enter\",\"se" + std::string(20, '\0') + kEnter1,
         "t.trace:2: damaged line: NUL byte at column 18"},
        {"unknown event", kHeader + line(R"({"ev":"pause","seq":1})"), "t.trace:2: unknown event \"pause\""},
        {"unknown op",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"getTim","handle":"0x1"})"),
         "t.trace:2: unknown operation \"getTim\""},
        {"op with the ZOLT_ prefix",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"ZOLT_close","handle":"0x1"})"),
         "t.trace:2: unknown operation \"ZOLT_close\""},
        {"hex too short", kHeader + enterTime(std::string(30, '0')),
         "t.trace:2: \"in\" holds 30 hex digits; getTime's record needs 32"},
        {"hex too long", kHeader + enterTime(std::string(34, '0')),
         "t.trace:2: \"in\" holds 34 hex digits; getTime's record needs 32"},
        {"bad hex digit", kHeader + enterTime("0000g" + std::string(27, '0')),
         "t.trace:2: \"in\": 'g' at position 4 is not a lowercase hex digit"},
        {"uppercase hex digit", kHeader + kEnter1 +
                                    line(R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1,"out":"000000000000000000000000000000AB"})"),
         "t.trace:3: \"out\": 'A' at position 30 is not a lowercase hex digit"},
        {"unset beyond the record", kHeader + enterTime(std::string(32, '0'), "0-16"),
         "t.trace:2: \"unset\": \"0-16\" is not a list of increasing byte ranges within getTime's 16-byte record"},
        {"unset out of order", kHeader + enterTime(std::string(32, '0'), "8-15,0-7"), "t.trace:2: \"unset\": ..."},
        {"unset with a stray comma", kHeader + enterTime(std::string(32, '0'), "0-15,"), "t.trace:2: \"unset\": ..."},
        {"unset not numbers", kHeader + enterTime(std::string(32, '0'), "all"), "t.trace:2: \"unset\": ..."},
        {"handle without 0x",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"close","handle":"5581a2b0"})"),
         "t.trace:2: \"handle\" must be \"0x\" and 1 to 16 lowercase hex digits, not \"5581a2b0\""},
        {"handle too wide",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"close","handle":"0x11112222333344445"})"),
         "t.trace:2: \"handle\" must be ..."},
        {"exit without entry",
         kHeader + line(R"({"ev":"exit","seq":7,"t":2,"tid":1,"status":0,"dur":1})"),
         "t.trace:2: exit of seq 7 without its entry"},
        {"duplicate seq", kHeader + kEnter1 + kEnter1, "t.trace:3: seq 1 entered twice (first on line 2)"},
        {"second exit", kHeader + kEnter1 + exit1 + exit1, "t.trace:4: seq 1 exited twice (first on line 3)"},
        {"exit on another thread",
         kHeader + kEnter1 +
             line(R"({"ev":"exit","seq":1,"t":2,"tid":2,"status":0,"dur":1,"out":"00000000000000000000000000000000"})"),
         "t.trace:3: exit of seq 1 on thread 2, its entry (line 2) on thread 1"},
        {"missing key tid",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"op":"close","handle":"0x1"})"),
         "t.trace:2: missing key \"tid\""},
        {"missing handle",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"close"})"),
         "t.trace:2: missing key \"handle\""},
        {"value operation without value",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"synchControl","handle":"0x1"})"),
         "t.trace:2: missing key \"value\""},
        {"record exit without out", kHeader + kEnter1 +
                                        line(R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1})"),
         "t.trace:3: missing key \"out\""},
        {"open succeeded without word4",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"open","value":0})") +
             line(R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1,"handle":"0x9"})"),
         "t.trace:3: missing key \"word4\""},
        {"seq as text",
         kHeader + line(R"({"ev":"enter","seq":"1","t":1,"tid":1,"op":"close","handle":"0x1"})"),
         "t.trace:2: \"seq\" must be an unsigned integer, not a string"},
        {"seq negative",
         kHeader + line(R"({"ev":"enter","seq":-1,"t":1,"tid":1,"op":"close","handle":"0x1"})"),
         "t.trace:2: \"seq\" must be an unsigned integer, not a negative integer"},
        {"seq with a fraction",
         kHeader + line(R"({"ev":"enter","seq":1.5,"t":1,"tid":1,"op":"close","handle":"0x1"})"),
         "t.trace:2: \"seq\" must be an unsigned integer, not a number with a fraction or exponent"},
        {"seq 0", kHeader + line(R"({"ev":"enter","seq":0,"t":1,"tid":1,"op":"close","handle":"0x1"})"),
         "t.trace:2: \"seq\" 0: sequence numbers start at 1"},
        {"op as a number", kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":3,"handle":"0x1"})"),
         "t.trace:2: \"op\" must be a string, not an unsigned integer"},
        {"status beyond a byte", kHeader + kEnter1 +
                                     line(R"({"ev":"exit","seq":1,"t":2,"tid":1,"status":256,"dur":1,"out":"00000000000000000000000000000000"})"),
         "t.trace:3: \"status\" 256 is out of range 0-255"},
        {"value beyond 32 bits",
         kHeader + line(R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"synchControl","handle":"0x1","value":4294967296})"),
         "t.trace:2: \"value\" 4294967296 is out of range 0-4294967295"},
        {"event after the full marker",
         kHeader + line(R"({"ev":"full","seq":1,"t":1})") + kEnter1,
         "t.trace:3: event after the full marker of line 2"},
        {"a waitEvent record one digit long",
         kHeader + line(R"({"ev":"enter","seq":5,"t":1,"tid":1,"op":"waitEvent","handle":"0x1","in":")" +
                        kWaitIn + R"(0","unset":"4-23"})"),
         "t.trace:2: \"in\" holds 49 hex digits; waitEvent's record needs 48"},
    };
    for (const Damaged& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            parse(c.text, "t.trace");
            ADD_FAILURE() << "read without error";
        } catch (const ReadError& e) {
            const std::string expected = c.message;
            const std::string what = e.what();
            if (expected.ends_with("..."))
                EXPECT_EQ(what.substr(0, expected.size() - 3), expected.substr(0, expected.size() - 3));
            else
                EXPECT_EQ(what, expected);
            EXPECT_EQ(e.file, "t.trace");
            EXPECT_EQ(what, e.file + ":" + std::to_string(e.line) + ": " + e.message);
        }
    }
}

TEST(TraceReader, ReadsFilesAndNamesThemInErrors) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto path = dir / "zolt_tracefile_test.trace";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string text = validTrace() + std::string(1000, '\0');
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const Trace t = zolt::trace::read(path);
    EXPECT_EQ(t.file, path.string());
    EXPECT_EQ(t.calls.size(), 6u);
    EXPECT_TRUE(t.cutShort);
    {
        std::ofstream out(path, std::ios::binary);
        out << kHeader << "{\"ev\":\"exit\"}\n";
    }
    try {
        zolt::trace::read(path);
        ADD_FAILURE() << "read without error";
    } catch (const ReadError& e) {
        EXPECT_EQ(std::string(e.what()), path.string() + ":2: missing key \"seq\"");
    }
    std::filesystem::remove(path);
    try {
        zolt::trace::read(path);
        ADD_FAILURE() << "a missing file was read";
    } catch (const ReadError& e) {
        EXPECT_EQ(e.line, 0u);
        EXPECT_EQ(std::string(e.what()).rfind(path.string() + ": cannot open: ", 0), 0u) << e.what();
    }
}

#ifdef ZOLT_TRACE_FUZZ_CORPUS
// The fuzzer's seeds and the inputs it found faults with: each reads, or is
// refused with a ReadError naming a line, and nothing else escapes.
TEST(TraceReader, FuzzCorpusReadsOrIsRefused) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZOLT_TRACE_FUZZ_CORPUS)) {
        SCOPED_TRACE(entry.path().string());
        ++files;
        try {
            zolt::trace::read(entry.path());
        } catch (const ReadError& e) {
            EXPECT_GT(e.line, 0u) << e.what();
        }
    }
    EXPECT_GT(files, 0u);
}
#endif

TEST(TraceReader, FieldsAndTextForms) {
    const auto& latitude = zolt::operations[*zolt::operationIndex("getLatitude")];
    // word0 = -300, real4 = 408.5f
    const std::vector<std::uint8_t> record = {0xd4, 0xfe, 0, 0, 0x00, 0x40, 0xcc, 0x43};
    EXPECT_EQ(zolt::trace::fieldText(latitude.fields[0], record), "-300");
    EXPECT_EQ(zolt::trace::fieldText(latitude.fields[1], record), "408.5");
    EXPECT_EQ(zolt::trace::handleText(0x5581a2b0), "0x5581a2b0");
    EXPECT_EQ(zolt::trace::handleText(0), "0x0");
    EXPECT_EQ(zolt::trace::rangesText(0), "");
    EXPECT_EQ(zolt::trace::rangesText(0xFFFF), "0-15");
    EXPECT_EQ(zolt::trace::rangesText(0xFFu | 1u << 11 | 0xFu << 20), "0-7,11,20-23");
    // The writer's form of every operation's unset bytes reads back as its mask.
    for (const auto& op : zolt::operations) {
        if (op.shape != zolt::Shape::record) continue;
        SCOPED_TRACE(op.name);
        const std::string text = kHeader + R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":")" +
                                 std::string(op.name) + R"(","handle":"0x1","in":")" +
                                 std::string(2u * op.size, '0') + R"(","unset":")" +
                                 zolt::trace::rangesText(zolt::unsetMask(op)) + "\"}\n";
        EXPECT_EQ(parse(text, "t").calls.at(0).unset, zolt::unsetMask(op));
    }
}

}  // namespace
