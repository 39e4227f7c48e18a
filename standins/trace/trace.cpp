// The tracing driver: forwards every operation to the real driver and writes
// each call to a trace file mapped into memory (see zolt_trace.h).
#include "zolt_trace.h"

#include <algorithm>
#include <array>
#include <bit>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "driver/interface.h"
#include "line.h"
#include "driver/zolt.h"

#if defined(_WIN32)
#include <windows.h>
#include <sddl.h>
#define ZOLT_TRACE_API __declspec(dllexport)
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#define ZOLT_TRACE_API __attribute__((visibility("default")))
#endif

// The marker is a function, not a variable: two tracers in one process
// (one named as the other's driver) must not share a data symbol.
extern "C" ZOLT_TRACE_API int zolt_trace_format(void) { return 1; }

namespace {

using zolt::trace::copyLine;
using zolt::trace::Line;

constexpr std::uint8_t kUnavailable = ZOLT_TRACE_UNAVAILABLE;
constexpr std::uint64_t kDefaultLimit = std::uint64_t{64} << 20;
constexpr std::uint64_t kMinLimit = 4096;
constexpr std::uint64_t kMaxLimit = sizeof(void*) == 4 ? std::uint64_t{1} << 30
                                                       : std::uint64_t{1} << 40;
// Kept free for the "full" line: it always fits.
constexpr std::uint64_t kFullReserve = 128;
constexpr std::uint64_t kClosed = ~std::uint64_t{0};

// Index into zolt::operations, the header's order.
using Op = std::size_t;
constexpr Op op_open = *zolt::operationIndex("open");
#define ZOLT_TRACE_INDEX(name) constexpr Op op_##name = *zolt::operationIndex(#name);
#define ZOLT_TRACE_INDEX_2(name, Record) ZOLT_TRACE_INDEX(name)
ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_TRACE_INDEX)
ZOLT_VALUE_OPERATIONS(ZOLT_TRACE_INDEX)
ZOLT_RECORD_OPERATIONS(ZOLT_TRACE_INDEX_2)
#undef ZOLT_TRACE_INDEX
#undef ZOLT_TRACE_INDEX_2

// "0-7,11": the set bits of mask as ranges.
std::string ranges(std::uint32_t mask) {
    std::string s;
    for (unsigned i = 0; i < 32;) {
        if (!(mask & (1u << i))) {
            ++i;
            continue;
        }
        unsigned last = i;
        while (last + 1 < 32 && (mask & (1u << (last + 1)))) ++last;
        if (!s.empty()) s += ',';
        s += std::to_string(i);
        if (last != i) s += '-' + std::to_string(last);
        i = last + 1;
    }
    return s;
}

void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// --- The platform ----------------------------------------------------------

#if defined(_WIN32)
using Library = HMODULE;

std::int64_t monotonicNs() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    const std::int64_t v = c.QuadPart;
    return v / frequency * 1000000000 + v % frequency * 1000000000 / frequency;
}

std::uint64_t threadId() { return GetCurrentThreadId(); }
std::uint64_t processId() { return GetCurrentProcessId(); }

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

// The environment as UTF-8, read through the wide interface so that any
// path survives.
std::string environment(const char* name) {
    const std::wstring wname = widen(name);
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wname.c_str(), value.data(), n);
    value.resize(got);
    return narrow(value);
}

std::string systemError(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = "error " + std::to_string(code);
    if (text != nullptr) {
        std::string message = narrow(text);
        LocalFree(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.'))
            message.pop_back();
        if (!message.empty()) s += " (" + message + ")";
    }
    return s;
}

std::string wallClockUtc() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    const std::uint64_t ticks = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    char text[80];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%06uZ", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond,
                  static_cast<unsigned>(ticks / 10 % 1000000));
    return text;
}

bool loadLibrary(const std::string& path, Library& library, std::string& error) {
    // The driver's own dependencies are looked for in its folder first.
    library = LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        error = systemError(GetLastError());
        return false;
    }
    return true;
}

void* symbol(Library library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}

std::string libraryPath(Library library) {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(library, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return narrow(path);
}
#else
using Library = void*;

std::int64_t monotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

std::uint64_t threadId() {
    // Initial-exec: a plain load instead of a call into the loader.
    static thread_local std::uint64_t id __attribute__((tls_model("initial-exec"))) = 0;
    if (id == 0) id = static_cast<std::uint64_t>(syscall(SYS_gettid));
    return id;
}
std::uint64_t processId() { return static_cast<std::uint64_t>(getpid()); }

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string wallClockUtc() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts;
    gmtime_r(&ts.tv_sec, &parts);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<long>(ts.tv_nsec / 1000));
    return text;
}

bool loadLibrary(const std::string& path, Library& library, std::string& error) {
    // Deep binding: the driver's calls of its own operations find its own
    // definitions, not the tracer's, which sit earlier in the global scope.
#if defined(ZOLT_TRACE_NO_DEEP_BINDING)
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#else
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
#endif
    if (library == nullptr) {
        const char* e = dlerror();
        error = e != nullptr ? e : "unknown error";
        return false;
    }
    return true;
}

void* symbol(Library library, const char* name) { return dlsym(library, name); }

std::string libraryPath(Library library) {
    Dl_info info{};
    void* any = dlsym(library, "ZOLT_open");
    if (any == nullptr || dladdr(any, &info) == 0 || info.dli_fname == nullptr) return {};
    char* resolved = realpath(info.dli_fname, nullptr);
    if (resolved == nullptr) return info.dli_fname;
    std::string s = resolved;
    std::free(resolved);
    return s;
}

// The helper thread that readies the trace file's pages: on x86-64 Linux a
// bare thread (see TraceFile::startHelper), elsewhere a pthread.
#if defined(__linux__) && defined(__x86_64__) && !defined(ZOLT_TRACE_NO_HELPER_THREAD)
#define ZOLT_TRACE_BARE_HELPER 1
#else
#define ZOLT_TRACE_BARE_HELPER 0
#endif

// System calls that leave errno alone: the bare helper shares the TLS, and
// so the errno, of the host thread that started it, and a writer's own call
// should not change what the host reads there either.
namespace bare {
static_assert(sizeof(std::atomic<std::uint32_t>) == 4 && sizeof(std::atomic<pid_t>) == 4);

#if defined(__x86_64__)
inline long call(long n, long a = 0, long b = 0, long c = 0, long d = 0) {
    long result;
    register long r10 __asm__("r10") = d;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10)
                     : "rcx", "r11", "memory");
    return result;
}
#else
inline long call(long n, long a = 0, long b = 0, long c = 0, long d = 0) {
    const int saved = errno;
    const long result = syscall(n, a, b, c, d);
    errno = saved;
    return result;
}
#endif

inline void wait(std::atomic<std::uint32_t>& word, std::uint32_t value) {
    call(SYS_futex, reinterpret_cast<long>(&word), FUTEX_WAIT_PRIVATE, static_cast<long>(value));
}
inline void wake(std::atomic<std::uint32_t>& word) {
    call(SYS_futex, reinterpret_cast<long>(&word), FUTEX_WAKE_PRIVATE, 1);
}
#if ZOLT_TRACE_BARE_HELPER
// The kernel clears a thread's CLONE_CHILD_CLEARTID word as it ends and
// wakes it with a shared wake, which a private wait would not see.
inline void waitForExit(std::atomic<pid_t>& tid, pid_t value) {
    call(SYS_futex, reinterpret_cast<long>(&tid), FUTEX_WAIT, value);
}
#endif
}  // namespace bare
#endif

const char* osName() {
#if defined(_WIN32)
    return "windows";
#else
    return "linux";
#endif
}

const char* archName() {
#if defined(__x86_64__) || defined(_M_X64)
    return "x86_64";
#elif defined(__i386__) || defined(_M_IX86)
    return "i386";
#elif defined(__aarch64__)
    return "aarch64";
#else
    return "unknown";
#endif
}

// --- The trace file --------------------------------------------------------

// A file mapped at its full size. Lines are placed by reserving their bytes
// with one atomic step and then copied in; no lock, no system call.
class TraceFile {
public:
    // Creates the file; on failure returns false and sets error.
    bool create(const std::string& path, std::uint64_t limit, std::string& error);
    // Cuts the file to what was written and lets it go.
    void finish();
    void detach() { offset_.store(kClosed, std::memory_order_relaxed); }

    void write(const Line& line, std::uint64_t seq) {
        std::uint64_t at = offset_.load(std::memory_order_relaxed);
        for (;;) {
            if (at == kClosed) return;
            if (at + line.size <= capacity_) {
                if (offset_.compare_exchange_weak(at, at + line.size, std::memory_order_relaxed))
                    break;
            } else if (offset_.compare_exchange_weak(at, kClosed, std::memory_order_relaxed)) {
                writeFull(at, seq);
                return;
            }
        }
        copyLine(map_ + at, line);
        const std::uint64_t next = at + line.size;
        if ((at ^ next) >= kStretch) reached(next);
    }

private:
    static constexpr std::uint64_t kStretch = 256 * 1024;
    void prepare(std::uint64_t at);
    // The writers entered the stretch holding offset at.
    void reached(std::uint64_t at);

    void writeFull(std::uint64_t at, std::uint64_t seq) {
        Line full;
        full.put(R"({"ev":"full","seq":)");
        full.number(seq);
        full.put(R"(,"t":)");
        full.number(static_cast<std::uint64_t>(monotonicNs()));
        full.put("}\n");
        std::memcpy(map_ + at, full.text, full.size);
        end_.store(at + full.size, std::memory_order_relaxed);
    }

    char* map_ = nullptr;
    std::uint64_t capacity_ = 0;  // the limit less the reserve for "full"
    std::atomic<std::uint64_t> offset_{kClosed};
    std::atomic<std::uint64_t> end_{0};
#if defined(_WIN32)
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
#else
    int fd_ = -1;
    pid_t owner_ = 0;
    // The helper thread readies stretches ahead of the writers: wanted_ is
    // how many stretches from the start they want ready, kStop ends it.
    // 16 MiB ahead: a burst of calls that outruns the helper waits for pages.
    static constexpr std::uint32_t kStop = ~std::uint32_t{0};
    static constexpr std::uint32_t kAhead = 64;
    std::atomic<std::uint32_t> wanted_{0};
    bool helping_ = false;  // set before any writer runs, never cleared
#if ZOLT_TRACE_BARE_HELPER
    static constexpr std::size_t kHelperGuard = 4096, kHelperStack = 64 * 1024;
    std::atomic<pid_t> helperTid_{0};  // cleared by the kernel when it ends
    char* helperStack_ = nullptr;
    static int help(void* file);
#else
    pthread_t helper_{};
    static void* help(void* file);
#endif
    void stopHelper();
#endif
    void startHelper();

public:
    bool start(const std::string& header) {
        if (header.size() > capacity_) return false;
        std::memcpy(map_, header.data(), header.size());
        offset_.store(header.size(), std::memory_order_release);
        prepare(0);
        startHelper();
        return true;
    }
};

// Enough for any header line: the driver's path is its only long part.
constexpr unsigned kHeaderRead = 65536;

// True when the text begins with a zolt trace header line.
bool isTraceHeader(const char* data, std::size_t n) {
    static constexpr std::string_view prefix = R"({"trace":"zolt",)";
    return n > prefix.size() && std::string_view(data, n).starts_with(prefix) &&
           std::memchr(data, '\n', n) != nullptr;
}

#if defined(_WIN32)
// A security descriptor whose access list admits only the process's user.
bool ownerOnly(PSECURITY_DESCRIPTOR& descriptor, std::string& error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error = "cannot read the process's user: " + systemError(GetLastError());
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    wchar_t* sid = nullptr;
    const bool got = GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
                     ConvertSidToStringSidW(
                         reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid);
    const DWORD tokenError = GetLastError();
    CloseHandle(token);
    if (!got) {
        error = "cannot read the process's user: " + systemError(tokenError);
        return false;
    }
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        error = "cannot make an owner-only access list: " + systemError(GetLastError());
        return false;
    }
    return true;
}

void TraceFile::prepare(std::uint64_t) {}
void TraceFile::reached(std::uint64_t) {}
void TraceFile::startHelper() {}

bool TraceFile::create(const std::string& path, std::uint64_t limit, std::string& error) {
    const std::wstring wpath = widen(path);
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            error = "is a symbolic link or junction; not followed";
            return false;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            error = "is a folder, not a trace";
            return false;
        }
        HANDLE old = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (old == INVALID_HANDLE_VALUE) {
            error = "exists and cannot be read: " + systemError(GetLastError());
            return false;
        }
        std::string head(kHeaderRead, '\0');
        DWORD got = 0;
        const bool read = ReadFile(old, head.data(), kHeaderRead, &got, nullptr) != 0;
        CloseHandle(old);
        if (!read || !isTraceHeader(head.data(), got)) {
            error = "exists and is not a zolt trace; not replaced";
            return false;
        }
        if (!DeleteFileW(wpath.c_str())) {
            error = "cannot replace the old trace: " + systemError(GetLastError());
            return false;
        }
    }
    // Full access for the user running the host, nothing for anyone else.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ownerOnly(descriptor, error)) return false;
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    file_ = CreateFileW(wpath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &security,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD createError = GetLastError();
    LocalFree(descriptor);
    if (file_ == INVALID_HANDLE_VALUE) {
        error = "cannot be created: " + systemError(createError);
        return false;
    }
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READWRITE, static_cast<DWORD>(limit >> 32),
                                  static_cast<DWORD>(limit), nullptr);
    void* view = mapping_ != nullptr ? MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        error = "cannot be mapped at " + std::to_string(limit) +
                " bytes: " + systemError(GetLastError());
        if (mapping_ != nullptr) CloseHandle(mapping_);
        CloseHandle(file_);
        DeleteFileW(wpath.c_str());
        file_ = INVALID_HANDLE_VALUE;
        return false;
    }
    map_ = static_cast<char*>(view);
    capacity_ = limit - kFullReserve;
    return true;
}

void TraceFile::finish() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    std::uint64_t end = offset_.exchange(kClosed);
    if (end == kClosed) end = end_.load();
    UnmapViewOfFile(map_);
    CloseHandle(mapping_);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(end);
    if (end != 0 && SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}
#else
void TraceFile::startHelper() {
    wanted_.store(1 + kAhead, std::memory_order_relaxed);
#if defined(ZOLT_TRACE_NO_HELPER_THREAD)
    // A sanitizer runtime's own locks, taken by this thread at a fork, would
    // be left held in the child: there the writers ready the file themselves.
    prepare(kStretch);
    return;
#endif
    // The host's signals stay with the host's threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
#if ZOLT_TRACE_BARE_HELPER
    // A thread the C library does not know of: a host with one thread keeps
    // the library's single-thread fast paths (an uncontended mutex without
    // an atomic step), which a pthread would end for the rest of the run,
    // slowing every lock the host and its driver take. The thread runs no
    // library code: it shares the host thread's TLS, so it makes its system
    // calls bare and never touches errno.
    void* stack = mmap(nullptr, kHelperGuard + kHelperStack, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack != MAP_FAILED) {
        helperStack_ = static_cast<char*>(stack);
        mprotect(helperStack_, kHelperGuard, PROT_NONE);
        helping_ = clone(&TraceFile::help, helperStack_ + kHelperGuard + kHelperStack,
                         CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD |
                             CLONE_SYSVSEM | CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID,
                         this, &helperTid_, nullptr, &helperTid_) > 0;
        if (!helping_) {
            munmap(helperStack_, kHelperGuard + kHelperStack);
            helperStack_ = nullptr;
        }
    }
#else
    helping_ = pthread_create(&helper_, nullptr, &TraceFile::help, this) == 0;
    if (helping_) pthread_setname_np(helper_, "zolt-trace");
#endif
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    // Without the thread the writers ready the file themselves.
    if (!helping_) prepare(kStretch);
}

#if ZOLT_TRACE_BARE_HELPER
int TraceFile::help(void* self) {
    bare::call(SYS_prctl, PR_SET_NAME, reinterpret_cast<long>("zolt-trace"));
#else
void* TraceFile::help(void* self) {
#endif
    TraceFile& file = *static_cast<TraceFile*>(self);
    std::uint64_t ready = 1;  // stretches readied; start() did the first
    for (;;) {
        const std::uint32_t wanted = file.wanted_.load(std::memory_order_acquire);
        if (wanted == kStop) return {};
        if (ready < wanted && ready * kStretch < file.capacity_) {
            file.prepare(ready * kStretch);
            ++ready;
        } else {
            bare::wait(file.wanted_, wanted);
        }
    }
}

void TraceFile::reached(std::uint64_t at) {
    if (!helping_) {
        prepare(at + kStretch);
        return;
    }
    const auto target = static_cast<std::uint32_t>(at / kStretch) + 1 + kAhead;
    std::uint32_t wanted = wanted_.load(std::memory_order_relaxed);
    while (wanted != kStop && wanted < target) {
        if (wanted_.compare_exchange_weak(wanted, target, std::memory_order_release,
                                          std::memory_order_relaxed)) {
            bare::wake(wanted_);
            return;
        }
    }
}

void TraceFile::stopHelper() {
    if (!helping_) return;
    wanted_.store(kStop, std::memory_order_release);
    bare::wake(wanted_);
    // helping_ stays set: a writer still inside a call reads it, and finds
    // kStop.
#if ZOLT_TRACE_BARE_HELPER
    for (pid_t tid; (tid = helperTid_.load(std::memory_order_acquire)) != 0;)
        bare::waitForExit(helperTid_, tid);
    munmap(helperStack_, kHelperGuard + kHelperStack);
    helperStack_ = nullptr;
#else
    pthread_join(helper_, nullptr);
#endif
}

void TraceFile::prepare(std::uint64_t at) {
#if defined(MADV_POPULATE_WRITE)
    at &= ~(kStretch - 1);
    if (at >= capacity_) return;
    const std::uint64_t n = std::min(kStretch, capacity_ - at);
    // Older kernels refuse it; the pages then come by faults, as without it.
    bare::call(SYS_madvise, reinterpret_cast<long>(map_ + at), static_cast<long>(n),
               MADV_POPULATE_WRITE);
#else
    (void)at;
#endif
}

bool TraceFile::create(const std::string& path, std::uint64_t limit, std::string& error) {
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            error = "is a symbolic link; not followed";
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = "exists and is not a regular file; not replaced";
            return false;
        }
        const int old = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (old < 0) {
            error = std::string("exists and cannot be read: ") + std::strerror(errno);
            return false;
        }
        std::string head(kHeaderRead, '\0');
        const ssize_t got = read(old, head.data(), kHeaderRead);
        close(old);
        if (got <= 0 || !isTraceHeader(head.data(), static_cast<std::size_t>(got))) {
            error = "exists and is not a zolt trace; not replaced";
            return false;
        }
        if (unlink(path.c_str()) != 0) {
            error = std::string("cannot replace the old trace: ") + std::strerror(errno);
            return false;
        }
    }
    // O_EXCL: whatever appeared at the path since (a link among them) is
    // not opened.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error = std::string("cannot be created: ") + std::strerror(errno);
        return false;
    }
    fchmod(fd_, 0600);
    // The file's blocks are reserved now: a page of a mapping that the disk
    // has no room for would end the host with SIGBUS at some later call.
    // Where the file system cannot reserve, the file stays sparse.
    const int reserved = fallocate(fd_, 0, 0, static_cast<off_t>(limit));
    if (reserved != 0 && errno != EOPNOTSUPP) {
        error = "cannot reserve " + std::to_string(limit) + " bytes (ZOLT_TRACE_LIMIT): " +
                std::strerror(errno);
        close(fd_);
        unlink(path.c_str());
        fd_ = -1;
        return false;
    }
    void* view = MAP_FAILED;
    if (reserved == 0 || ftruncate(fd_, static_cast<off_t>(limit)) == 0)
        view = mmap(nullptr, static_cast<std::size_t>(limit), PROT_READ | PROT_WRITE, MAP_SHARED,
                    fd_, 0);
    if (view == MAP_FAILED) {
        error = "cannot be mapped at " + std::to_string(limit) + " bytes: " + std::strerror(errno);
        close(fd_);
        unlink(path.c_str());
        fd_ = -1;
        return false;
    }
    map_ = static_cast<char*>(view);
    capacity_ = limit - kFullReserve;
    owner_ = getpid();
    return true;
}

void TraceFile::finish() {
    if (fd_ < 0) return;
    std::uint64_t end = offset_.exchange(kClosed);
    if (end == kClosed) end = end_.load();
    // A forked child neither wrote here nor cuts its parent's file (nor has
    // the helper thread: only the parent has it to end); a trace whose
    // "full" line is still being written keeps its full size. The mapping
    // stays: a thread still inside a call may be copying its line.
    const bool owner = getpid() == owner_;
    if (owner) stopHelper();
    if (owner && end != 0 && ftruncate(fd_, static_cast<off_t>(end)) != 0) {
        std::fprintf(stderr, "zolt trace: cannot cut the trace to %llu bytes: %s\n",
                     static_cast<unsigned long long>(end), std::strerror(errno));
    }
    close(fd_);
    fd_ = -1;
}
#endif

// --- The tracer --------------------------------------------------------------

struct RealDriver {
    decltype(&ZOLT_open) open;
#define ZOLT_TRACE_POINTER_1(name) decltype(&ZOLT_##name) name;
#define ZOLT_TRACE_POINTER_2(name, Record) decltype(&ZOLT_##name) name;
    ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_TRACE_POINTER_1)
    ZOLT_VALUE_OPERATIONS(ZOLT_TRACE_POINTER_1)
    ZOLT_RECORD_OPERATIONS(ZOLT_TRACE_POINTER_2)
#undef ZOLT_TRACE_POINTER_1
#undef ZOLT_TRACE_POINTER_2
};

bool parseLimit(const std::string& text, std::uint64_t& limit) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v > kMaxLimit) return false;
        v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return false;
    if (i + 1 == text.size()) {
        const char unit = text[i];
        const int shift = unit == 'K' || unit == 'k' ? 10
                          : unit == 'M' || unit == 'm' ? 20
                          : unit == 'G' || unit == 'g' ? 30
                                                       : -1;
        if (shift < 0 || v > (kMaxLimit >> shift)) return false;
        v <<= shift;
    } else if (i != text.size()) {
        return false;
    }
    if (v < kMinLimit || v > kMaxLimit) return false;
    limit = v;
    return true;
}

// The part of a thread's lines that stays the same from call to call, made
// once: its id, and the operation and handle of its last call.
class ThreadText {
public:
    static ThreadText& get() {
#if defined(_WIN32)
        thread_local ThreadText text;
        return text;
#else
        // The text lives in the library's dynamic TLS, reached through a
        // loader call; the pointer to it sits in the static TLS, a plain load.
        static thread_local ThreadText* cached __attribute__((tls_model("initial-exec"))) = nullptr;
        if (cached == nullptr) {
            thread_local ThreadText text;
            cached = &text;
        }
        return *cached;
#endif
    }
    // Makes enterText ,"tid":N,"op":"name","handle":"0x.." (no handle for open).
    void enter(Op op, const BoardRecord* board) {
        const auto handle = reinterpret_cast<std::uintptr_t>(board);
        if (enterSize == 0 || op != op_ || handle != handle_) {
            Line line;
            line.put(R"(,"tid":)");
            line.number(threadId());
            line.put(R"(,"op":")");
            line.put(zolt::operations[op].name);
            line.put('"');
            if (op != op_open) {
                line.put(R"(,"handle":)");
                line.hexNumber(handle);
            }
            std::memcpy(enterText, line.text, line.size);
            enterSize = line.size;
            op_ = op;
            handle_ = handle;
        }
    }
    // Makes exitText ,"tid":N,"status":
    void exit() {
        if (exitSize == 0) {
            Line line;
            line.put(R"(,"tid":)");
            line.number(threadId());
            line.put(R"(,"status":)");
            std::memcpy(exitText, line.text, line.size);
            exitSize = line.size;
        }
    }

    // The longest operation name is 16 characters, a handle 16 digits.
    char enterText[96] = {};
    char exitText[48] = {};
    std::size_t enterSize = 0, exitSize = 0;

private:
    Op op_ = 0;
    std::uintptr_t handle_ = 0;
};

class Tracer {
public:
    Tracer() { ready_ = start(); }
    ~Tracer() { file_.finish(); }
    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;

    bool ready() const { return ready_; }
    const RealDriver& real() const { return real_; }

    // The enter line; returns the call's seq. N is the size of the record
    // at record, when there is one.
    template <std::size_t N>
    std::uint64_t enter(Op op, std::int64_t t, const BoardRecord* board, const void* record,
                        const std::uint64_t* value) {
        const std::uint64_t seq = seq_.fetch_add(1, std::memory_order_relaxed) + 1;
        Line line;
        line.put(R"({"ev":"enter","seq":)");
        line.number(seq);
        line.put(R"(,"t":)");
        line.number(static_cast<std::uint64_t>(t));
        ThreadText& thread = ThreadText::get();
        thread.enter(op, board);
        line.put(thread.enterText, thread.enterSize);
        if (value != nullptr) {
            line.put(R"(,"value":)");
            line.number(*value);
        }
        if (record != nullptr) {
            line.put(R"(,"in":)");
            line.hexBytes<N>(record);
            line.put(tail_[op].text, tail_[op].size);
        } else {
            line.put("}\n");
        }
        file_.write(line, seq);
        return seq;
    }

    // The exit line, up to the operation's own keys; end() completes it.
    void exit(Line& line, std::uint64_t seq, std::int64_t t, std::int64_t duration,
              std::uint8_t status) {
        line.put(R"({"ev":"exit","seq":)");
        line.number(seq);
        line.put(R"(,"t":)");
        line.number(static_cast<std::uint64_t>(t));
        ThreadText& thread = ThreadText::get();
        thread.exit();
        line.put(thread.exitText, thread.exitSize);
        line.number(status);
        line.put(R"(,"dur":)");
        line.number(static_cast<std::uint64_t>(duration));
    }
    void end(Line& line, std::uint64_t seq) {
        line.put("}\n");
        file_.write(line, seq);
    }

#if !defined(_WIN32)
    // In a child made by fork(): no writes into the parent's trace. Only
    // async-signal-safe calls here, so the line is written by hand.
    void forked() {
        file_.detach();
        Line line;
        line.put("zolt trace: process ");
        line.number(processId());
        line.put(" is a fork of the traced process; its driver calls are not traced\n");
        if (::write(2, line.text, line.size) < 0) return;
    }
#endif

private:
    bool start();
    bool fail(const std::string& why) {
        std::fprintf(stderr, "zolt trace: %s; every driver call returns %d\n", why.c_str(),
                     ZOLT_TRACE_UNAVAILABLE);
        std::fflush(stderr);
        return false;
    }

    bool ready_ = false;
    RealDriver real_{};
    TraceFile file_;
    std::atomic<std::uint64_t> seq_{0};
    // An enter line's end after its "in": the operation's unset ranges.
    struct Tail {
        char text[80] = {};
        std::size_t size = 0;
    };
    Tail tail_[zolt::operations.size()];
};

Tracer& tracer();

bool Tracer::start() {
    for (std::size_t i = 0; i < zolt::operations.size(); ++i) {
        // At most 16 ranges of a 32-byte record ("0,2,..,30"): 54 bytes.
        const std::string tail =
            R"(,"unset":")" + ranges(zolt::unsetMask(zolt::operations[i])) + "\"}\n";
        std::memcpy(tail_[i].text, tail.data(), std::min(tail.size(), sizeof tail_[i].text));
        tail_[i].size = tail.size();
    }

    const std::string driver = environment("ZOLT_TRACE_DRIVER");
    if (driver.empty()) return fail("ZOLT_TRACE_DRIVER is not set (the path of the real driver)");
    Library library{};
    std::string error;
    if (!loadLibrary(driver, library, error))
        return fail("cannot load the driver ZOLT_TRACE_DRIVER=" + driver + ": " + error);
    if (symbol(library, ZOLT_TRACE_MARKER) != nullptr)
        return fail("ZOLT_TRACE_DRIVER=" + driver + " is a tracing driver, not the real one");
    bool complete = true;
    const auto bind = [&](auto& pointer, const char* name) {
        void* address = symbol(library, name);
        if (address == nullptr && complete) {
            complete = false;
            error = name;
        }
        pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(address);
    };
    bind(real_.open, "ZOLT_open");
#define ZOLT_TRACE_BIND_1(name) bind(real_.name, "ZOLT_" #name);
#define ZOLT_TRACE_BIND_2(name, Record) bind(real_.name, "ZOLT_" #name);
    ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_TRACE_BIND_1)
    ZOLT_VALUE_OPERATIONS(ZOLT_TRACE_BIND_1)
    ZOLT_RECORD_OPERATIONS(ZOLT_TRACE_BIND_2)
#undef ZOLT_TRACE_BIND_1
#undef ZOLT_TRACE_BIND_2
    if (!complete) return fail("the driver ZOLT_TRACE_DRIVER=" + driver + " lacks " + error);

    std::uint64_t limit = kDefaultLimit;
    const std::string limitText = environment("ZOLT_TRACE_LIMIT");
    if (!limitText.empty() && !parseLimit(limitText, limit))
        return fail("ZOLT_TRACE_LIMIT=" + limitText + " is not a size from 4K to " +
                    (sizeof(void*) == 4 ? "1G" : "1024G") + " (bytes, or with K, M or G)");

    const std::uint64_t pid = processId();
    std::string path = environment("ZOLT_TRACE_FILE");
    if (path.empty()) path = "zolt-trace-%p.jsonl";
    for (std::size_t at; (at = path.find("%p")) != std::string::npos;)
        path.replace(at, 2, std::to_string(pid));

    const std::int64_t clock = monotonicNs();
    std::string header = R"({"trace":"zolt","version":1,"pid":)" + std::to_string(pid) +
                         R"(,"os":")" + osName() + R"(","arch":")" + archName() +
                         R"(","driver":)";
    appendJsonString(header, libraryPath(library));
    header += R"(,"start":")" + wallClockUtc() + R"(","clock_ns":)" + std::to_string(clock) +
              R"(,"limit":)" + std::to_string(limit) + "}\n";

    if (!file_.create(path, limit, error)) return fail("trace file " + path + " " + error);
    if (!file_.start(header)) return fail("the header does not fit in ZOLT_TRACE_LIMIT");
#if !defined(_WIN32)
    pthread_atfork(nullptr, nullptr, [] { tracer().forked(); });
#endif
    return true;
}

Tracer& tracer() {
    static Tracer t;
    return t;
}

// --- The 24 operations -----------------------------------------------------

template <std::size_t N, class Call>
std::uint8_t traced(Op op, BoardRecord* board, const void* record, const std::uint64_t* value,
                    Call call) {
    Tracer& t = tracer();
    if (!t.ready()) return kUnavailable;
    const std::int64_t begin = monotonicNs();
    const std::uint64_t seq = t.enter<N>(op, begin, board, record, value);
    const std::uint8_t status = call(t.real());
    const std::int64_t finish = monotonicNs();
    Line line;
    t.exit(line, seq, finish, finish - begin, status);
    if (record != nullptr) {
        line.put(R"(,"out":)");
        line.hexBytes<N>(record);
    }
    t.end(line, seq);
    return status;
}

}  // namespace

extern "C" {

ZOLT_TRACE_API std::uint8_t ZOLT_CALL ZOLT_open(BoardRecord** board, std::uintptr_t value) {
    Tracer& t = tracer();
    if (!t.ready()) return kUnavailable;
    const std::uint64_t v = value;
    const std::int64_t begin = monotonicNs();
    const std::uint64_t seq = t.enter<0>(op_open, begin, nullptr, nullptr, &v);
    const std::uint8_t status = t.real().open(board, value);
    const std::int64_t finish = monotonicNs();
    Line line;
    t.exit(line, seq, finish, finish - begin, status);
    if (board != nullptr) {
        line.put(R"(,"handle":)");
        line.hexNumber(reinterpret_cast<std::uintptr_t>(*board));
        if (status == 0 && *board != nullptr) {
            std::uint16_t word4;
            std::memcpy(&word4, reinterpret_cast<const unsigned char*>(*board) + 4, sizeof word4);
            line.put(R"(,"word4":)");
            line.number(word4);
        }
    }
    t.end(line, seq);
    return status;
}

#define ZOLT_TRACE_HANDLE_ONLY(name)                                                   \
    ZOLT_TRACE_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board) {            \
        return traced<0>(op_##name, board, nullptr, nullptr,                           \
                      [&](const RealDriver& d) { return d.name(board); });             \
    }
#define ZOLT_TRACE_VALUE(name)                                                         \
    ZOLT_TRACE_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board,              \
                                                      std::uint32_t value) {           \
        const std::uint64_t v = value;                                                 \
        return traced<0>(op_##name, board, nullptr, &v,                                \
                      [&](const RealDriver& d) { return d.name(board, value); });      \
    }
#define ZOLT_TRACE_RECORD(name, Record)                                                \
    ZOLT_TRACE_API std::uint8_t ZOLT_CALL ZOLT_##name(BoardRecord* board,              \
                                                      Record* record) {                \
        static_assert(sizeof(Record) == zolt::operations[op_##name].size);             \
        return traced<sizeof(Record)>(op_##name, board, record, nullptr,               \
                      [&](const RealDriver& d) { return d.name(board, record); });     \
    }
ZOLT_HANDLE_ONLY_OPERATIONS(ZOLT_TRACE_HANDLE_ONLY)
ZOLT_VALUE_OPERATIONS(ZOLT_TRACE_VALUE)
ZOLT_RECORD_OPERATIONS(ZOLT_TRACE_RECORD)
#undef ZOLT_TRACE_HANDLE_ONLY
#undef ZOLT_TRACE_VALUE
#undef ZOLT_TRACE_RECORD

}  // extern "C"
