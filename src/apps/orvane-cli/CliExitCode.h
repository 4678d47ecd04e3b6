#pragma once

namespace orvane::CliExitCode {

// What orvane-cli's exit status means; listed in --help, relied on by scripts.
inline constexpr int success = 0;
inline constexpr int failure = 1;       // the operation failed (link, transfer, input file)
inline constexpr int usage = 2;         // the command line was wrong (unknown options included)
inline constexpr int interrupted = 130; // SIGINT/SIGTERM ended an operation before its end

} // namespace orvane::CliExitCode
