// The differential check run as a test in every build: the fuzzer's
// committed corpus, a fixed stream of pseudo-random cases, and proof that the
// comparison does catch a byte in the wrong place.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "differential.h"
#include "recording.h"

namespace {

constexpr std::size_t kInputSize = 122;  // every field of the layout

// A random input for one export; the status byte is 0 in half of them so
// that the success paths get as many cases as the failure paths.
std::vector<std::uint8_t> randomInput(std::mt19937_64& rng, std::size_t exportIndex) {
    std::vector<std::uint8_t> in(kInputSize);
    for (std::uint8_t& b : in) b = static_cast<std::uint8_t>(rng());
    in[0] = static_cast<std::uint8_t>(exportIndex);
    if (rng() & 1) in[2] = 0;
    return in;
}

TEST(Differential, EveryExportHasOneModelRowNamedAfterItsDriverOperation) {
    std::set<std::string> names;
    for (const model::Export& e : model::exports()) {
        EXPECT_EQ(std::string(e.name), std::string("LV_") + e.driverOp);
        names.insert(e.name);
    }
    EXPECT_EQ(names.size(), recording::kOperationCount);
}

TEST(Differential, TheCommittedCorpusAgreesWithTheModel) {
    const std::filesystem::path dir = LVZ_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) {
#if defined(_WIN32)
        GTEST_SKIP() << "corpus not reachable from here: " << dir;
#else
        FAIL() << "no corpus at " << dir;
#endif
    }
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream f(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> in{std::istreambuf_iterator<char>(f), {}};
        EXPECT_EQ(differential::check(in.data(), in.size()), "") << entry.path();
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST(Differential, RandomCasesAgreeWithTheModel) {
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        for (std::size_t e = 0; e < model::exports().size(); ++e) {
            std::vector<std::uint8_t> in = randomInput(rng, e);
            in.resize(static_cast<std::size_t>(rng() % (kInputSize + 1)));  // short inputs read as zeros
            const std::string report = differential::check(in.data(), in.size());
            ASSERT_EQ(report, "");
        }
    }
}

// A model row with one deliberate error must disagree with the layer on
// some case: the comparison has teeth for each kind of fault it stands for.
TEST(Differential, AWrongModelRowIsCaught) {
    struct Mutation {
        const char* what;
        const char* exportName;
        void (*apply)(model::Export&);
    };
    const Mutation mutations[] = {
        {"an out-parameter read one byte off", "LV_ZOLT_getTime",
         [](model::Export& e) { e.outs[1].offset = 8; }},
        {"two out-parameters swapped", "LV_ZOLT_getDate",
         [](model::Export& e) { std::swap(e.outs[1].offset, e.outs[2].offset); }},
        {"an out-parameter one byte too narrow", "LV_ZOLT_waitEvent",
         [](model::Export& e) { e.outs[4].width = 1; }},
        {"an out-parameter written only on success", "LV_ZOLT_getLatitude",
         [](model::Export& e) { e.outs[1].when = model::When::onSuccess; }},
        {"the text written whatever the status", "LV_ZOLT_getFPGA",
         [](model::Export& e) { e.outs[0].when = model::When::always; }},
        {"the board field read on failure too", "LV_ZOLT_open",
         [](model::Export& e) { e.outs[1].when = model::When::always; }},
        {"a narrow input taken at 16 bits", "LV_ZOLT_setMatchTime",
         [](model::Export& e) { e.ins[4].width = 2; }},
        {"an input at the wrong offset", "LV_ZOLT_setHeartbeat",
         [](model::Export& e) { e.ins[3].offset = 0; }},
        {"a value in the wrong argument", "LV_ZOLT_waitEvent",
         [](model::Export& e) { e.ins[0].arg = 8; }},
        {"a wide input cut to 16 bits", "LV_ZOLT_setYear",
         [](model::Export& e) { e.ins[0].width = 2; }},
    };
    for (const Mutation& m : mutations) {
        SCOPED_TRACE(m.what);
        std::size_t index = 0;
        while (std::string(model::exports()[index].name) != m.exportName) ++index;
        model::Export wrong = model::exports()[index];
        m.apply(wrong);
        std::mt19937_64 rng(7);
        bool caught = false;
        for (int i = 0; i < 200 && !caught; ++i) {
            const std::vector<std::uint8_t> in = randomInput(rng, index);
            caught = !differential::check(wrong, differential::decode(in.data(), in.size())).empty();
        }
        EXPECT_TRUE(caught);
    }
}

}  // namespace
