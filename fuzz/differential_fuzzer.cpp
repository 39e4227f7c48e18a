// libFuzzer entry for the differential check: any difference between an
// export and the model aborts with the case.
#include <cstdio>
#include <cstdlib>

#include "differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string report = differential::check(data, size);
    if (!report.empty()) {
        std::fputs(report.c_str(), stderr);
        std::abort();
    }
    return 0;
}
