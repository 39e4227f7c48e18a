// The layer allocates nothing: every allocation function of the process is
// replaced here and counted while all 24 exports run, in their success and
// failure paths.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support.h"

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* __libc_memalign(std::size_t, std::size_t);
extern "C" void __libc_free(void*);

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
void note() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}
}  // namespace

// Replacing malloc in the executable interposes it for every shared library
// of the process, LV_zolt and the driver included.
extern "C" {
void* malloc(std::size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    note();
    return __libc_realloc(p, n);
}
void* memalign(std::size_t alignment, std::size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    note();
    *out = __libc_memalign(alignment, n);
    return *out ? 0 : ENOMEM;
}
void free(void* p) { __libc_free(p); }
}
// operator new reaches malloc in libstdc++, but count it directly too.
void* operator new(std::size_t n) {
    note();
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }

namespace lvtest {
namespace {

int allocationsDuring(void (*work)()) {
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

TEST(NoHeap, TheCounterSeesAllocationsMadeInsideOtherLibraries) {
    // strdup allocates inside the C library, as an allocation in LV_zolt
    // would; called through a volatile pointer so the compiler cannot elide it.
    EXPECT_GE(allocationsDuring([] {
                  char* (*volatile duplicate)(const char*) = strdup;
                  free(duplicate("x"));
              }),
              1);
}

TEST(NoHeap, NoExportAllocates) {
    static FakeBoard board;
    static HostArea area;
    allExports();  // builds the table outside the counted window
    recording::reset();
    const int count = allocationsDuring([] {
        for (std::uint8_t status : {std::uint8_t{0}, std::uint8_t{5}}) {
            for (const ExportCase& c : allExports()) {
                recording::setStatus(c.op, status);
                recording::script(c.op).openHandle = board.handle();
                c.call(board.handle(), area);
            }
        }
    });
    EXPECT_EQ(count, 0);
    EXPECT_EQ(recording::totalCalls(), 48);
}

}  // namespace
}  // namespace lvtest
