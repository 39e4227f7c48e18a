// The tracing driver, run in front of the simulated board (and of a driver
// that calls its own operations) by real host processes: lvzolt on Linux,
// zolt_trace_host everywhere. Each trace is checked with the shared reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/interface.h"
#include "reader.h"
#include "zolt_trace.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using zolt::trace::Call;
using zolt::trace::Trace;

#if defined(_WIN32)
const std::string kExe = ".exe";
const std::string kDriverFile = "zolt.dll";
const std::string kSelfCallFile = "zolt_selfcall.dll";
#else
const std::string kExe;
const std::string kDriverFile = "libzolt.so";
const std::string kSelfCallFile = "libzolt_selfcall.so";
#endif

// This program's folder holds the host, a copy of the tracer and the
// self-calling driver; the build's runtime folder the simulator and lvzolt.
fs::path ownFolder() {
#if defined(_WIN32)
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    return fs::path(std::wstring(path, n)).parent_path();
#else
    return fs::canonical("/proc/self/exe").parent_path();
#endif
}
const fs::path kHere = ownFolder();
const fs::path kHost = kHere / ("zolt_trace_host" + kExe);
const fs::path kTracerCopy = kHere / kDriverFile;
const fs::path kSelfCall = kHere / kSelfCallFile;
const fs::path kRuntime = fs::weakly_canonical(kHere / LV_ZOLT_RUNTIME_FROM_TESTS);
const fs::path kSimulator = kRuntime / kDriverFile;
const fs::path kTracerFolder = kRuntime / "trace";
const fs::path kLvzolt = kRuntime / ("lvzolt" + kExe);

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spill(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

void setVariable(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
#else
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
#endif
}

struct Outcome {
    int exit = -1;
    std::string out, err;
};

// A child process with its output in files; the environment given is set
// for it (the tracer's variables not given are unset).
class Process {
public:
    // The child's output goes to files in `folder`, which is also its
    // current folder.
    Process(const fs::path& program, const std::vector<std::string>& args, Environment env,
            const fs::path& folder)
        : outFile_(folder / "out.txt"), errFile_(folder / "err.txt") {
        for (const char* name : {"ZOLT_TRACE_DRIVER", "ZOLT_TRACE_FILE", "ZOLT_TRACE_LIMIT"})
            if (std::none_of(env.begin(), env.end(), [&](auto& e) { return e.first == name; }))
                env.emplace_back(name, std::nullopt);
        for (auto& [name, value] : env) setVariable(name, value);
#if defined(_WIN32)
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileW(outFile_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE err = CreateFileW(errFile_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        start.hStdOutput = out;
        start.hStdError = err;
        std::wstring line = L"\"" + program.wstring() + L"\"";
        for (const std::string& a : args) line += L" " + fs::path(a).wstring();
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            folder.c_str(), &start, &info))
            ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
        CloseHandle(out);
        CloseHandle(err);
        process_ = info.hProcess;
        if (info.hThread != nullptr) CloseHandle(info.hThread);
#else
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen(outFile_.c_str(), "w", stdout);
            std::freopen(errFile_.c_str(), "w", stderr);
            if (chdir(folder.c_str()) != 0) _exit(126);
            std::vector<char*> argv;
#if defined(LV_ZOLT_CHILD_EMULATOR)
            argv.push_back(const_cast<char*>(LV_ZOLT_CHILD_EMULATOR));
#endif
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
#endif
        for (auto& [name, value] : env) setVariable(name, std::nullopt);
    }

    Outcome wait() {
        Outcome r;
#if defined(_WIN32)
        if (process_ != nullptr) {
            WaitForSingleObject(process_, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            CloseHandle(process_);
            process_ = nullptr;
            r.exit = static_cast<int>(code);
        }
#else
        int status = 0;
        waitpid(pid_, &status, 0);
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
#endif
        r.out = slurp(outFile_);
        r.err = slurp(errFile_);
        return r;
    }

#if !defined(_WIN32)
    void kill() { ::kill(pid_, SIGKILL); }
#endif

private:
    fs::path outFile_, errFile_;
#if defined(_WIN32)
    HANDLE process_ = nullptr;
#else
    pid_t pid_ = -1;
#endif
};

class Tracing : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::path(::testing::TempDir()) /
                  (std::string("zolt_trace_") + test->name() + "_" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        trace_ = folder_ / "run.trace.jsonl";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(folder_);
    }

    // The host (or lvzolt) traced in front of `driver`.
    Environment traced(const fs::path& driver, Environment more = {}) const {
        more.emplace_back("ZOLT_TRACE_DRIVER", driver.string());
        if (std::none_of(more.begin(), more.end(),
                         [](auto& e) { return e.first == "ZOLT_TRACE_FILE"; }))
            more.emplace_back("ZOLT_TRACE_FILE", trace_.string());
        return more;
    }

    Outcome run(const fs::path& program, const std::vector<std::string>& args,
                const Environment& env) const {
        return Process(program, args, env, folder_).wait();
    }

    fs::path folder_, trace_;
};

std::vector<std::string> opNames(const Trace& t) {
    std::vector<std::string> names;
    for (const Call& c : t.calls) names.emplace_back(c.op().name);
    return names;
}

std::string lineCount(const std::string& text) {
    return std::to_string(std::count(text.begin(), text.end(), '\n'));
}

// Every call of every operation, through LV_zolt in front of the simulator:
// the record bytes going in are the layer's, the unset ranges the table's,
// and the host gets the driver's statuses.
TEST_F(Tracing, EveryCallIsInTheTraceWithItsRecordsAndStatus) {
    const Outcome r = run(kHost, {"all"}, traced(kSimulator));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Trace t = zolt::trace::read(trace_);
    EXPECT_FALSE(t.cutShort);
    EXPECT_FALSE(t.fullAt);
    EXPECT_EQ(t.header.driver, fs::canonical(kSimulator).string());
    EXPECT_EQ(t.header.limit, 67108864u);
    EXPECT_EQ(t.header.arch, sizeof(void*) == 8 ? "x86_64" : "i386");
#if defined(_WIN32)
    EXPECT_EQ(t.header.os, "windows");
#else
    EXPECT_EQ(t.header.os, "linux");
    struct stat st{};
    ASSERT_EQ(stat(trace_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
    // Cut to what was written: no NUL bytes left from the mapping.
    const std::string text = slurp(trace_);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.back(), '\n');

    std::vector<std::string> expected{"open"};
    for (const auto& op : zolt::operations)
        if (op.name != "open" && op.name != "close" && op.name != "simEvent" &&
            op.name != "waitEvent")
            expected.emplace_back(op.name);
    for (const char* last : {"simEvent", "waitEvent", "close"}) expected.emplace_back(last);
    ASSERT_EQ(opNames(t), expected);

    // The host printed one "<export> <status>" line per call, in call order.
    std::istringstream printed(r.out);
    const std::uint64_t handle = t.calls[0].openedHandle.value_or(0);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(t.calls[0].boardValue, 4100);
    std::set<std::uint64_t> seqs;
    for (const Call& c : t.calls) {
        SCOPED_TRACE(std::string(c.op().name));
        std::string name;
        unsigned status = 0;
        printed >> name >> status;
        EXPECT_EQ(name, "LV_ZOLT_" + std::string(c.op().name));
        EXPECT_TRUE(c.returned);
        EXPECT_EQ(c.status, status);
        EXPECT_GE(c.duration, 0);
        EXPECT_GE(c.exitTime, c.enterTime);
        seqs.insert(c.seq);
        if (c.op().shape != zolt::Shape::open) {
            EXPECT_EQ(c.handle, handle);
        }
        if (c.op().shape == zolt::Shape::record) {
            EXPECT_EQ(c.in.size(), c.op().size);
            EXPECT_EQ(c.out.size(), c.op().size);
            EXPECT_EQ(c.unset, zolt::unsetMask(c.op()));
        } else {
            EXPECT_TRUE(c.in.empty());
        }
    }
    EXPECT_EQ(seqs.size(), t.calls.size());
    EXPECT_EQ(*seqs.rbegin(), t.calls.size());

    auto call = [&](std::string_view name) {
        return *std::find_if(t.calls.begin(), t.calls.end(),
                             [&](const Call& c) { return c.op().name == name; });
    };
    // What the layer put in the records, byte for byte.
    const Call setTime = call("setTime");
    EXPECT_EQ(std::vector<std::uint8_t>(setTime.in.begin() + 8, setTime.in.end()),
              (std::vector<std::uint8_t>{30, 15, 12, 0, 100, 0, 250, 0}));
    EXPECT_EQ(call("setYear").in, (std::vector<std::uint8_t>{0xea, 0x07, 0, 0}));
    EXPECT_EQ(call("waitHeartbeat").in, (std::vector<std::uint8_t>{0xe8, 0x03, 0, 0}));
    EXPECT_EQ(call("getDriver").value, 3u);
    EXPECT_EQ(call("setPropDelayCorr").value, 5u);
    // What the driver gave back.
    const Call firmware = call("getFirmware");
    EXPECT_EQ(std::vector<std::uint8_t>(firmware.out.begin(), firmware.out.begin() + 3),
              (std::vector<std::uint8_t>{0x02, 0x07, 0x13}));
}

// The trace is whole even when two threads call at once: every line
// parses, seq numbers are unique, and the calls carry two thread ids.
TEST_F(Tracing, CallsFromTwoThreadsStayWholeAndOrderedByEntry) {
    const Outcome r = run(kHost, {"threads", "2000"}, traced(kSimulator));
    ASSERT_EQ(r.exit, 0) << r.err;
    const Trace t = zolt::trace::read(trace_);
    ASSERT_EQ(t.calls.size(), 4002u);
    std::set<std::uint64_t> threads;
    for (std::size_t i = 0; i < t.calls.size(); ++i) {
        EXPECT_EQ(t.calls[i].seq, i + 1);
        EXPECT_TRUE(t.calls[i].returned);
        threads.insert(t.calls[i].thread);
    }
    EXPECT_EQ(threads.size(), 2u);
    EXPECT_EQ(lineCount(slurp(trace_)), std::to_string(1 + 2 * 4002));
}

// A long run on two boards in turn: every line names the board it was made
// for, and a trace many times the stretch the tracer readies ahead (256 KiB)
// is whole, numbered without a gap and cut to what was written.
TEST_F(Tracing, ALongRunOnTwoBoardsNamesEachCallsBoard) {
    constexpr std::size_t kRounds = 6000;
    const Outcome r = run(kHost, {"boards", std::to_string(kRounds)},
                          traced(kSimulator, {{"ZOLT_SIM_BOARDS", "2"}}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "LV_ZOLT_open 0\nLV_ZOLT_open 0\nLV_ZOLT_getTime 0\nLV_ZOLT_close 0\n"
              "LV_ZOLT_close 0\n");
    const std::string text = slurp(trace_);
    EXPECT_GT(text.size(), std::size_t{2} << 20);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    const Trace t = zolt::trace::read(trace_);
    EXPECT_FALSE(t.cutShort);
    ASSERT_EQ(t.calls.size(), 2 * kRounds + 4);
    const std::uint64_t boards[] = {t.calls[0].openedHandle.value_or(0),
                                    t.calls[1].openedHandle.value_or(0)};
    ASSERT_NE(boards[0], boards[1]);
    for (std::size_t i = 2; i < 2 + 2 * kRounds; ++i) {
        const Call& c = t.calls[i];
        ASSERT_EQ(c.seq, i + 1);
        ASSERT_EQ(c.op().name, "getTime") << "seq " << c.seq;
        ASSERT_EQ(c.handle, boards[i % 2]) << "seq " << c.seq;
        ASSERT_TRUE(c.returned) << "seq " << c.seq;
    }
    EXPECT_EQ(t.calls[2 * kRounds + 2].handle, boards[1]);
    EXPECT_EQ(t.calls[2 * kRounds + 3].handle, boards[0]);
}

// The tracer's thread readies the file's pages without making a host of one
// thread multi-threaded in its C library's eyes: such a host keeps the
// library's single-thread fast paths, which a pthread would end for the rest
// of the run (its every uncontended lock would take an atomic step more).
TEST_F(Tracing, AHostOfOneThreadStaysSingleThreadedForItsCLibrary) {
#if !defined(__linux__) || !defined(__x86_64__)
    GTEST_SKIP() << "the tracer's thread is a pthread here";
#elif defined(LV_ZOLT_TRACER_WITHOUT_HELPER_THREAD)
    GTEST_SKIP() << "a sanitizer build's tracer readies pages on the writers' threads";
#else
    // Enough calls for many stretches of the file to be readied.
    constexpr long kCalls = 20000;
    const Outcome r = run(kHost, {"lone", std::to_string(kCalls)}, traced(kSimulator));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "LV_ZOLT_open 0\nLV_ZOLT_getTime 0\nsingle-threaded 1\n"
              "threads zolt-trace,zolt_trace_host\nLV_ZOLT_close 0\n");
    const Trace t = zolt::trace::read(trace_);
    EXPECT_FALSE(t.cutShort);
    EXPECT_EQ(t.calls.size(), static_cast<std::size_t>(kCalls) + 2);
#endif
}

// The real driver's call of its own getDate stays inside it: the trace
// holds the host's calls only, and getTime's answer carries that getDate's
// year.
TEST_F(Tracing, TheDriversCallsOfItsOwnOperationsAreNotCaptured) {
#if defined(LV_ZOLT_TRACER_WITHOUT_DEEP_BINDING)
    GTEST_SKIP() << "a sanitizer runtime refuses deep binding; this build's tracer goes without";
#endif
    const Outcome r = run(kHost, {"time"}, traced(kSelfCall));
    ASSERT_EQ(r.exit, 0) << r.err;
    const Trace t = zolt::trace::read(trace_);
    ASSERT_EQ(opNames(t), (std::vector<std::string>{"open", "getTime", "close"}));
    EXPECT_EQ(t.calls[0].boardValue, 4321);
    const std::vector<std::uint8_t>& out = t.calls[1].out;
    ASSERT_EQ(out.size(), 16u);
    EXPECT_EQ(out[12] | out[13] << 8, 1999);
}

// Past the limit: one "full" line, nothing more, and the calls still reach
// the driver.
TEST_F(Tracing, TheLimitEndsTheTraceWithTheFullMarker) {
    const Outcome r = run(kHost, {"time", "500"}, traced(kSimulator, {{"ZOLT_TRACE_LIMIT", "4K"}}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("LV_ZOLT_getTime 0\nLV_ZOLT_close 0\n"), std::string::npos) << r.out;
    const std::string text = slurp(trace_);
    EXPECT_LE(text.size(), 4096u);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    const Trace t = zolt::trace::read(trace_);
    EXPECT_EQ(t.header.limit, 4096u);
    ASSERT_TRUE(t.fullAt);
    // Only whole calls and at most one entry without its exit before it.
    ASSERT_FALSE(t.calls.empty());
    EXPECT_LT(t.calls.back().seq, *t.fullAt + 1);
    for (std::size_t i = 0; i + 1 < t.calls.size(); ++i) EXPECT_TRUE(t.calls[i].returned);
    const std::string fullLine = text.substr(text.rfind("{\"ev\""));
    EXPECT_EQ(fullLine.rfind(R"({"ev":"full","seq":)", 0), 0u) << fullLine;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
              std::count(text.begin(), text.end(), '}'));
}

// An old trace at the path is replaced by the new one.
TEST_F(Tracing, AnOldTraceIsReplaced) {
    spill(trace_, R"({"trace":"zolt","version":1,"pid":1,"os":"linux","arch":"x86_64","driver":"x","start":"2026-01-01T00:00:00.000000Z","clock_ns":1,"limit":4096})"
                  "\nleft over\n");
    const Outcome r = run(kHost, {"time"}, traced(kSimulator));
    ASSERT_EQ(r.exit, 0) << r.err;
    const Trace t = zolt::trace::read(trace_);
    EXPECT_NE(t.header.pid, 1);
    EXPECT_EQ(t.calls.size(), 3u);
}

// Without ZOLT_TRACE_FILE the trace is zolt-trace-<pid>.jsonl in the
// current folder; "%p" in ZOLT_TRACE_FILE is the process id too.
TEST_F(Tracing, TheTraceFileIsNamedByTheProcessId) {
    const auto tracesIn = [](const fs::path& folder) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".jsonl") found.push_back(entry.path());
        return found;
    };
    const Outcome byDefault = run(kHost, {"time"}, {{"ZOLT_TRACE_DRIVER", kSimulator.string()}});
    ASSERT_EQ(byDefault.exit, 0) << byDefault.err;
    std::vector<fs::path> found = tracesIn(folder_);
    ASSERT_EQ(found.size(), 1u);
    Trace t = zolt::trace::read(found[0]);
    EXPECT_EQ(found[0].filename().string(),
              "zolt-trace-" + std::to_string(t.header.pid) + ".jsonl");
    fs::remove(found[0]);

    fs::create_directory(folder_ / "named");
    const Outcome named = run(kHost, {"time"},
                              traced(kSimulator, {{"ZOLT_TRACE_FILE",
                                                   (folder_ / "named" / "run-%p.jsonl").string()}}));
    ASSERT_EQ(named.exit, 0) << named.err;
    found = tracesIn(folder_ / "named");
    ASSERT_EQ(found.size(), 1u);
    t = zolt::trace::read(found[0]);
    EXPECT_EQ(found[0].filename().string(), "run-" + std::to_string(t.header.pid) + ".jsonl");
    EXPECT_EQ(t.calls.size(), 3u);
}

struct Refusal {
    const char* name;
    // Sets up the folder; returns the environment and what the message names.
    std::function<std::pair<Environment, std::string>(const fs::path& folder,
                                                       const fs::path& trace)> setUp;
    const char* untouched;  // a file at the trace path that must stay as it is
};

// Every way the tracer cannot trace: every call returns 240, the driver is
// never called, stderr has one line that says why, and nothing at the path is
// harmed.
TEST_F(Tracing, RefusesToRunUntracedWithOneLineAndStatus240) {
    const std::string kept = "someone's data\n";
    const std::vector<Refusal> cases{
        {"no driver named",
         [](const fs::path&, const fs::path& trace) {
             return std::make_pair(Environment{{"ZOLT_TRACE_FILE", trace.string()}},
                                   std::string("ZOLT_TRACE_DRIVER is not set"));
         },
         nullptr},
        {"a driver that does not exist",
         [](const fs::path& folder, const fs::path& trace) {
             const std::string missing = (folder / "no-such-driver").string();
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", missing},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   missing);
         },
         nullptr},
        {"a driver that is not a library",
         [](const fs::path& folder, const fs::path& trace) {
             spill(folder / "not-a-driver", "text\n");
             const std::string path = (folder / "not-a-driver").string();
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", path},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   path);
         },
         nullptr},
        {"the tracer as its own driver",
         [](const fs::path&, const fs::path& trace) {
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kTracerCopy.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   std::string("is a tracing driver"));
         },
         nullptr},
        {"another copy of the tracer as the driver",
         [](const fs::path&, const fs::path& trace) {
             const fs::path other = kTracerFolder / kDriverFile;
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", other.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   std::string("is a tracing driver"));
         },
         nullptr},
        {"a file that is not a trace at the path",
         [kept](const fs::path&, const fs::path& trace) {
             spill(trace, kept);
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   trace.string() + " exists and is not a zolt trace");
         },
         "yes"},
        {"an empty file at the path",
         [](const fs::path&, const fs::path& trace) {
             spill(trace, "");
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   trace.string() + " exists and is not a zolt trace");
         },
         nullptr},
        {"a folder at the path",
         [](const fs::path&, const fs::path& trace) {
             fs::create_directory(trace);
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   trace.string());
         },
         nullptr},
        {"a trace path in a missing folder",
         [](const fs::path& folder, const fs::path&) {
             const std::string path = (folder / "missing" / "t.jsonl").string();
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", path}},
                                   path + " cannot be created");
         },
         nullptr},
#if !defined(_WIN32)
        {"a symbolic link at the path, even to an old trace",
         [](const fs::path& folder, const fs::path& trace) {
             spill(folder / "target",
                   R"({"trace":"zolt","version":1,"pid":1,"os":"linux","arch":"x86_64","driver":"x","start":"2026-01-01T00:00:00.000000Z","clock_ns":1,"limit":4096})"
                   "\n");
             fs::create_symlink(folder / "target", trace);
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   trace.string() + " is a symbolic link");
         },
         nullptr},
        {"a dangling symbolic link at the path",
         [](const fs::path& folder, const fs::path& trace) {
             fs::create_symlink(folder / "would-be-created", trace);
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()}},
                                   trace.string() + " is a symbolic link");
         },
         nullptr},
#endif
        {"a limit below 4K",
         [](const fs::path&, const fs::path& trace) {
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()},
                                               {"ZOLT_TRACE_LIMIT", "4095"}},
                                   std::string("ZOLT_TRACE_LIMIT=4095"));
         },
         nullptr},
        {"a limit that is not a size",
         [](const fs::path&, const fs::path& trace) {
             return std::make_pair(Environment{{"ZOLT_TRACE_DRIVER", kSimulator.string()},
                                               {"ZOLT_TRACE_FILE", trace.string()},
                                               {"ZOLT_TRACE_LIMIT", "64MB"}},
                                   std::string("ZOLT_TRACE_LIMIT=64MB"));
         },
         nullptr},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = folder_ / "case";
        fs::remove_all(folder);
        fs::create_directories(folder);
        const fs::path trace = folder / "t.jsonl";
        const auto [env, named] = c.setUp(folder, trace);
        const Outcome r = Process(kHost, {"time"}, env, folder).wait();
        EXPECT_EQ(r.exit, 1);
        EXPECT_EQ(r.out, "LV_ZOLT_open " + std::to_string(ZOLT_TRACE_UNAVAILABLE) + "\n");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("zolt trace: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        if (c.untouched != nullptr) {
            EXPECT_EQ(slurp(trace), kept);
        }
#if !defined(_WIN32)
        if (fs::is_symlink(trace)) {
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(trace)));
            EXPECT_FALSE(fs::exists(folder / "would-be-created"));
            if (fs::exists(folder / "target")) {
                EXPECT_EQ(zolt::trace::read(folder / "target").header.pid, 1);
            }
        }
#endif
    }
}

#if !defined(_WIN32)
// lvzolt gives the same answers traced and untraced.
TEST_F(Tracing, LvzoltAnswersTheSameTracedAndUntraced) {
    const std::vector<std::vector<std::string>> commands{
        {"info"}, {"--json", "info", "--board", "1"}, {"position"}, {"--json", "position"},
        {"info", "--board", "7"}};
    for (const auto& args : commands) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const Outcome plain = run(kLvzolt, args, {});
        const Outcome traced = run(kLvzolt, args,
                                   this->traced(kSimulator, {{"LD_LIBRARY_PATH",
                                                              kTracerFolder.string()}}));
        EXPECT_EQ(traced.exit, plain.exit);
        EXPECT_EQ(traced.out, plain.out);
        EXPECT_EQ(traced.err, plain.err);
        const Trace t = zolt::trace::read(trace_);
        ASSERT_FALSE(t.calls.empty());
        EXPECT_EQ(t.calls.front().op().name, "open");
        for (const Call& c : t.calls) EXPECT_TRUE(c.returned);
        if (plain.exit == 0) {
            EXPECT_EQ(t.calls.back().op().name, "close");
        }
    }
}

// Events raised by lvzolt's second thread: two thread ids in the trace.
TEST_F(Tracing, LvzoltsSecondThreadShowsInTheTrace) {
    const Outcome r =
        run(kLvzolt, {"watch", "event", "--raise", "5", "--count", "3"},
            traced(kSimulator, {{"LD_LIBRARY_PATH", kTracerFolder.string()}}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const Trace t = zolt::trace::read(trace_);
    std::set<std::uint64_t> raising, waiting;
    for (const Call& c : t.calls) {
        if (c.op().name == "simEvent") raising.insert(c.thread);
        if (c.op().name == "waitEvent") waiting.insert(c.thread);
    }
    ASSERT_EQ(raising.size(), 1u);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_NE(*raising.begin(), *waiting.begin());
}

// A forked child calling at the same time as its parent neither writes
// into the parent's trace nor cuts it at its exit; it says so on stderr.
TEST_F(Tracing, AForkedChildLeavesItsParentsTraceAlone) {
    const Outcome r = run(kHost, {"fork", "300"}, traced(kSimulator));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "LV_ZOLT_open 0\nLV_ZOLT_getTime 0\nLV_ZOLT_getTime 0\nLV_ZOLT_close 0\n");
    EXPECT_NE(r.err.find("is a fork of the traced process"), std::string::npos) << r.err;
    // One line of ours; a sanitizer's leak check in the child may add its own
    // lines ("==PID==..."), which are not the tracer's.
    std::istringstream lines(r.err);
    int ours = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("==", 0) != 0) ++ours;
    EXPECT_EQ(ours, 1) << r.err;
    const Trace t = zolt::trace::read(trace_);
    EXPECT_FALSE(t.cutShort);
    std::vector<std::string> expected{"open"};
    expected.insert(expected.end(), 301, "getTime");
    expected.emplace_back("close");
    EXPECT_EQ(opNames(t), expected);
    for (const Call& c : t.calls) {
        EXPECT_TRUE(c.returned);
        EXPECT_EQ(c.thread, t.calls.front().thread) << "seq " << c.seq;
    }
}

// A process killed inside a wait leaves the wait's entry: the trace is cut
// short and its last call never returned.
TEST_F(Tracing, AKilledProcessLeavesTheWaitItWasIn) {
    Process p(kLvzolt, {"watch", "heartbeat", "--period", "3600", "--count", "1"},
              traced(kSimulator, {{"LD_LIBRARY_PATH", kTracerFolder.string()},
                                  {"ZOLT_TRACE_LIMIT", "64K"}}),
              folder_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (slurp(trace_).find(R"("op":"waitHeartbeat")") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.kill();
    const Outcome r = p.wait();
    EXPECT_EQ(r.exit, -SIGKILL);
    const Trace t = zolt::trace::read(trace_);
    EXPECT_TRUE(t.cutShort);
    ASSERT_FALSE(t.calls.empty());
    const Call& last = t.calls.back();
    EXPECT_EQ(last.op().name, "waitHeartbeat");
    EXPECT_FALSE(last.returned);
    EXPECT_EQ(last.in.size(), 4u);
    for (std::size_t i = 0; i + 1 < t.calls.size(); ++i) EXPECT_TRUE(t.calls[i].returned);
}
#endif

}  // namespace
