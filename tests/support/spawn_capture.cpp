#include "support/spawn_capture.hpp"

#include <stdexcept>

#include "support/run_process.hpp"

namespace korvane::testing {

// A shorter form of RunProcess; also gains its time-out, so a child that hangs
// ends the test instead of stalling it.
CapturedRun SpawnCapture(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessOptions options;
    for (const auto& entry : environment) {
        const auto equals = entry.find('=');
        options.set_env[entry.substr(0, equals)] =
            equals == std::string::npos ? "" : entry.substr(equals + 1);
    }
    CapturedRun run;
    try {
        ProcessResult result = RunProcess(argv, options);
        run.exit_status = result.term_signal != 0 ? 128 + result.term_signal : result.exit_code;
        run.out = std::move(result.out);
        run.err = std::move(result.err);
    } catch (const std::runtime_error&) {
        run.exit_status = -1;  // could not be run
    }
    return run;
}

}  // namespace korvane::testing
