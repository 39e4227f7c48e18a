// LV_zolt binds the driver when it is loaded, not at its first call: with no
// zolt reachable the loader refuses LV_zolt (lazy binding requested or not),
// and the same file loads once a zolt sits beside it. The program links
// neither library, so nothing of either is in the process beforehand.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
// The folder of the DLL being loaded is searched for its imports, as a host
// that loads LV_zolt by full path asks for.
void* load(const fs::path& file, bool) {
    return LoadLibraryExA(file.string().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
std::string loadError() { return "error " + std::to_string(GetLastError()); }
void* symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void unload(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
const char* const kDriverMissing = "error 126";  // ERROR_MOD_NOT_FOUND
int processId() { return static_cast<int>(GetCurrentProcessId()); }
#else
void* load(const fs::path& file, bool lazy) {
    return dlopen(file.c_str(), (lazy ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
}
std::string loadError() {
    const char* e = dlerror();
    return e ? e : "";
}
void* symbol(void* library, const char* name) { return dlsym(library, name); }
void unload(void* library) { dlclose(library); }
const char* const kDriverMissing = "libzolt.so";
int processId() { return static_cast<int>(getpid()); }
#endif

// A folder of its own that holds nothing but what the test puts there.
struct Folder {
    fs::path path = fs::temp_directory_path() / ("lv_zolt_load_" + std::to_string(processId()));
    Folder() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path put(const fs::path& file) const {
        fs::copy_file(file, path / file.filename());
        return path / file.filename();
    }
};

TEST(Loading, RefusedWithoutTheDriverAndAcceptedWithIt) {
    const Folder folder;
    const fs::path library = folder.put(LV_ZOLT_LIBRARY_FILE);
    for (bool lazy : {false, true}) {
        SCOPED_TRACE(lazy ? "lazy binding" : "immediate binding");
        void* loaded = load(library, lazy);
        EXPECT_EQ(loaded, nullptr);
        if (loaded) {
            unload(loaded);
        } else {
            EXPECT_NE(loadError().find(kDriverMissing), std::string::npos);
        }
    }

    folder.put(LV_ZOLT_DRIVER_FILE);
    void* loaded = load(library, false);
    ASSERT_NE(loaded, nullptr) << loadError();
    EXPECT_NE(symbol(loaded, "LV_ZOLT_open"), nullptr);
    EXPECT_NE(symbol(loaded, "LV_ZOLT_waitEvent"), nullptr);
    unload(loaded);
}

}  // namespace
