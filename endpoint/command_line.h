// The tracking-endpoint command line: serve, demo, add, import.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace korvanel::endpoint {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs one command; args excludes the program name. Messages go to out and err; the result
// is the exit status (2 for bad usage).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace korvanel::endpoint
