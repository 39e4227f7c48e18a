// The replay driver: the 24 operations answered by the engine from the trace
// named in the environment, handles of its own, the report at process exit.
// Everything is set up at the first call rather than as the library loads, so
// nothing runs under the loader's lock but the report at exit.
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "driver/interface.h"
#include "driver/zolt.h"
#include "engine.h"
#include "zolt_replay.h"

using namespace zolt::replay;

namespace {

// The record behind a handle of ours: the board value at offset 4, as the
// layer reads it; the rest is ours and unused.
struct LiveBoard {
    BoardRecord record;
    std::uint8_t rest[10];
};

void printLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// The value of an environment variable; empty counts as unset.
std::optional<std::string> variable(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    return std::string(text);
}

std::string badValue(const char* name, const std::string& value, const char* allowed) {
    return "zolt replay: " + std::string(name) + "=\"" + value + "\" is not " + allowed +
           "; every call returns 242";
}

bool writeFile(const std::string& path, const std::string& text, std::string& why) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) {
        why = "write failed";
        return false;
    }
    return true;
}

// A call that gets no recorded answer: the outputs hold zeros, not whatever
// the caller's record held, and an open hands out a null handle.
void clearOutputs(const zolt::Operation& op, void* record, BoardRecord** opened) {
    if (op.shape == zolt::Shape::open && opened) *opened = nullptr;
    if (op.shape != zolt::Shape::record || record == nullptr) return;
    const std::uint32_t out = zolt::byteMask(op, zolt::Flow::out);
    for (unsigned b = 0; b < op.size; ++b)
        if (out >> b & 1u) static_cast<std::uint8_t*>(record)[b] = 0;
}

class Replay {
   public:
    std::mutex mutex;

    // Under the lock.
    void start() {
        if (started_) return;
        started_ = true;
        report_ = Report{};
        Exhausted exhausted = Exhausted::fail;
        const auto file = variable("ZOLT_REPLAY_FILE");
        const auto exhaustedText = variable("ZOLT_REPLAY_EXHAUSTED");
        const auto timingText = variable("ZOLT_REPLAY_TIMING");
        reportPath_ = variable("ZOLT_REPLAY_REPORT");
        report_.trace = file.value_or("");
        if (exhaustedText) {
            if (*exhaustedText == "repeat-last")
                exhausted = Exhausted::repeatLast;
            else if (*exhaustedText != "fail")
                fail(badValue("ZOLT_REPLAY_EXHAUSTED", *exhaustedText, "fail or repeat-last"));
            report_.exhausted = *exhaustedText;
        }
        if (timingText) {
            if (*timingText == "recorded")
                recordedTiming_ = true;
            else if (*timingText != "instant")
                fail(badValue("ZOLT_REPLAY_TIMING", *timingText, "instant or recorded"));
            report_.timing = *timingText;
        }
        if (!file)
            fail(
                "zolt replay: ZOLT_REPLAY_FILE is not set: it names the trace to play; "
                "every call returns 242");
        if (!report_.error) {
            try {
                engine_.emplace(zolt::trace::read(*file), exhausted);
            } catch (const zolt::trace::ReadError& e) {
                fail("zolt replay: " + std::string(e.what()) + "; every call returns 242");
            } catch (const std::exception& e) {  // out of memory, say: never thrown at the host
                fail("zolt replay: " + *file + ": cannot be read (" + e.what() +
                     "); every call returns 242");
            }
        }
        // The report written now stands until the one at exit replaces it:
        // a host that dies leaves "finished": false, not an older report.
        if (reportPath_ && !writeReport()) reportPath_.reset();
        if (!engine_) return;
        const zolt::trace::Trace& t = engine_->trace();
        if (t.fullAt)
            printLine("zolt replay: " + t.file + ": the trace is full at call " +
                      std::to_string(*t.fullAt) + ": the calls after it were not recorded");
    }

    bool started() const { return started_; }
    // The test hook was used: a replay is begun by a call, not by exiting.
    bool restarted = false;

    // Under the lock: the report of the replay as it stands, final. A host
    // that made no call gets one too.
    void finish() {
        if (!started_) start();
        report_.finished = true;
        if (reportPath_) writeReport();
    }

    // Under the lock: forgets the replay, keeping the memory of the handles
    // issued so far (a host may still hold them).
    void reset() {
        started_ = false;
        engine_.reset();
        boards_.clear();
        recordedTiming_ = false;
    }

    // The answer to one call, with the lock held on entry; it is released
    // before a recorded duration is slept.
    std::uint8_t play(std::unique_lock<std::mutex>& lock, std::size_t operation,
                      BoardRecord* handle, std::uint64_t value, void* record,
                      BoardRecord** opened) {
        start();
        const zolt::Operation& op = zolt::operations[operation];
        if (!engine_) {
            lock.unlock();
            clearOutputs(op, record, opened);
            return ZOLT_REPLAY_BAD_TRACE;
        }
        Request request;
        request.operation = operation;
        request.value = value;
        request.in = static_cast<const std::uint8_t*>(record);
        if (op.shape != zolt::Shape::open) {
            const auto it = boards_.find(handle);
            request.target = it != boards_.end()
                                 ? Target{true, it->second}
                                 : Target{false, reinterpret_cast<std::uintptr_t>(handle)};
        }
        const Answer answer = engine_->answer(request);
        if (!answer.played) {
            lock.unlock();
            clearOutputs(op, record, opened);
            printLine(answer.message);
            return ZOLT_REPLAY_NOT_RECORDED;
        }
        // Copied under the lock: a restart may drop the trace meanwhile.
        const zolt::trace::Call& call = *answer.call;
        const std::uint8_t status = call.status;
        const std::int64_t duration = recordedTiming_ ? call.duration : 0;
        std::array<std::uint8_t, zolt::kMaxRecordSize> out{};
        const bool fill = op.shape == zolt::Shape::record && call.out.size() == op.size;
        if (fill) std::memcpy(out.data(), call.out.data(), op.size);
        BoardRecord* issued = nullptr;
        if (op.shape == zolt::Shape::open) {
            if (status == 0) {
                auto& board = issued_.emplace_back(std::make_unique<LiveBoard>());
                std::memcpy(board->record.driverPrivate, "RPL", 4);
                board->record.word4 = call.boardValue.value_or(0);
                issued = &board->record;
                boards_[issued] = answer.openedBoard;
            } else {
                issued = reinterpret_cast<BoardRecord*>(
                    static_cast<std::uintptr_t>(call.openedHandle.value_or(0)));
            }
        }
        lock.unlock();
        if (duration > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(duration));
        if (fill) std::memcpy(record, out.data(), op.size);
        if (opened) *opened = issued;
        return status;
    }

   private:
    void fail(std::string line) {
        if (report_.error) return;  // the first problem is the one to fix
        printLine(line);
        report_.error = std::move(line);
    }

    bool writeReport() {
        if (engine_) report_.operations = engine_->counts();
        std::string why;
        if (writeFile(*reportPath_, reportText(report_), why)) return true;
        const std::string line = "zolt replay: ZOLT_REPLAY_REPORT=\"" + *reportPath_ +
                                 "\" cannot be written (" + why + ")" +
                                 (report_.finished ? "" : "; every call returns 242");
        printLine(line);
        if (!report_.finished) {
            if (!report_.error) report_.error = line;
            engine_.reset();
        }
        return false;
    }

    bool started_ = false;
    bool recordedTiming_ = false;
    Report report_;
    std::optional<std::string> reportPath_;
    std::optional<Engine> engine_;
    std::unordered_map<const BoardRecord*, std::uint64_t> boards_;  // handle -> board
    std::vector<std::unique_ptr<LiveBoard>> issued_;                // never freed
};

// Never destroyed: host threads may still call while the process exits.
Replay& replay() {
    static Replay* const instance = new Replay;
    return *instance;
}

std::uint8_t serve(std::size_t operation, BoardRecord* handle, std::uint64_t value, void* record,
                   BoardRecord** opened = nullptr) {
    Replay& r = replay();
    std::unique_lock<std::mutex> lock(r.mutex);
    return r.play(lock, operation, handle, value, record, opened);
}

constexpr std::size_t indexOf(const char* name) { return *zolt::operationIndex(name); }

// Writes the final report when the process exits normally. On Windows other
// threads are gone by then, possibly inside a call: the lock is waited for a
// while, not forever.
struct ReportAtExit {
    ReportAtExit() = default;
    ReportAtExit(const ReportAtExit&) = delete;
    ReportAtExit& operator=(const ReportAtExit&) = delete;
    ~ReportAtExit() {
        Replay& r = replay();
        std::unique_lock<std::mutex> lock(r.mutex, std::defer_lock);
        for (int i = 0; i < 200 && !lock.try_lock(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (r.started() || !r.restarted) r.finish();
    }
} reportAtExit;

}  // namespace

extern "C" {

#define ZOLT_REPLAY_EXPORT ZOLT_REPLAY_API std::uint8_t ZOLT_CALL

ZOLT_REPLAY_EXPORT ZOLT_open(BoardRecord** board, std::uintptr_t value) {
    return serve(indexOf("open"), nullptr, value, nullptr, board);
}

#define ZOLT_REPLAY_HANDLE_ONLY(name)                    \
    ZOLT_REPLAY_EXPORT ZOLT_##name(BoardRecord* board) { \
        return serve(indexOf(#name), board, 0, nullptr); \
    }
#define ZOLT_REPLAY_VALUE(name)                                               \
    ZOLT_REPLAY_EXPORT ZOLT_##name(BoardRecord* board, std::uint32_t value) { \
        return serve(indexOf(#name), board, value, nullptr);                  \
    }
#define ZOLT_REPLAY_RECORD(name, Record)                                 \
    ZOLT_REPLAY_EXPORT ZOLT_##name(BoardRecord* board, Record* record) { \
        return serve(indexOf(#name), board, 0, record);                  \
    }

ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_REPLAY_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(ZOLT_REPLAY_VALUE)
ZOLT_RECORD_OPERATIONS(ZOLT_REPLAY_RECORD)

ZOLT_REPLAY_API void ZOLT_REPLAY_CALL zoltreplay_restart(void) {
    Replay& r = replay();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (r.started()) r.finish();
    r.reset();
    r.restarted = true;
}

}  // extern "C"
