// zolt-trace: reads the traces the tracing driver writes. One table lists
// the commands; each brings its options and its action.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "replay_report.h"

namespace {

using zolt_trace::Options;

struct Command {
    const char* name;
    const char* summary;
    void (*options)(CLI::App& command, Options& o);
    int (*run)(const Options& o, std::FILE* out);
};

void oneTrace(CLI::App& c, Options& o) {
    c.add_option("FILE", o.files, "the trace")->required()->expected(1);
}

const Command kCommands[] = {
    {"show", "a line per call, in seq order, with its fields decoded",
     [](CLI::App& c, Options& o) {
         oneTrace(c, o);
         c.add_option("--op", o.ops, "only this operation (repeatable; name without ZOLT_)")
             ->delimiter(',');
         c.add_option("--thread", o.threads, "only this thread id (repeatable)")->delimiter(',');
         c.add_option("--seq", o.seq, "only these calls: N, FIRST-LAST or FIRST-");
         c.add_flag("--failed", o.failed, "only calls that failed or never returned");
     },
     zolt_trace::show},
    {"stats", "per operation: calls, failures by status, duration p50/p99/max",
     oneTrace, zolt_trace::stats},
    {"diff", "compare two traces, leaving out times, thread ids, handle values and unset bytes",
     [](CLI::App& c, Options& o) {
         c.add_option("A B", o.files, "the two traces")->required()->expected(2);
         c.add_option("--max-differences", o.maxDifferences, "differences to print (default 10)")
             ->check(CLI::PositiveNumber);
     },
     zolt_trace::diff},
    {"timeline", "the calls as Trace Event Format JSON (Perfetto, chrome://tracing)",
     [](CLI::App& c, Options& o) {
         oneTrace(c, o);
         c.add_option("-o,--output", o.output, "the file to write (default: standard output)");
     },
     zolt_trace::timeline},
    {"check-report", "whether a replay driver's report shows a complete replay (0 complete, 1 incomplete, 2 bad input)",
     [](CLI::App& c, Options& o) {
         c.add_option("REPORT", o.files, "the replay report")->required()->expected(1);
     },
     [](const Options& o, std::FILE* out) {
         return zolt::replay::checkReportCommand(o.files[0], out, stderr);
     }},
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reads the traces of the zolt tracing driver.", "zolt-trace"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done (diff: the traces are equal); 1 diff found differences, or the\n"
        "output could not be written; 2 bad command line or bad input (the message names the\n"
        "file and line).");
    Options options;
    for (const Command& c : kCommands) c.options(*app.add_subcommand(c.name, c.summary), options);
    if (argc > 1 && argv[1][0] != '-' &&
        std::none_of(std::begin(kCommands), std::end(kCommands),
                     [&](const Command& c) { return std::strcmp(c.name, argv[1]) == 0; })) {
        std::fprintf(stderr, "zolt-trace: unknown command '%s'\nRun 'zolt-trace --help'.\n", argv[1]);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "zolt-trace: %s\nRun 'zolt-trace --help' or 'zolt-trace COMMAND --help'.\n",
                     e.what());
        return 2;
    }
    int status = 2;
    try {
        for (const Command& c : kCommands)
            if (app.got_subcommand(c.name)) status = c.run(options, stdout);
    } catch (const zolt::trace::ReadError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "zolt-trace: %s\n", e.what());
        return 2;
    } catch (const zolt_trace::UsageError& e) {
        std::fprintf(stderr, "zolt-trace: %s\n", e.message.c_str());
        return 2;
    } catch (const zolt_trace::WriteError& e) {
        std::fprintf(stderr, "zolt-trace: %s\n", e.message.c_str());
        return 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zolt-trace: cannot write to standard output: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return status;
}
