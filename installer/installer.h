#pragma once
// The installer's command line: install (no argument), "/Uninstall", "/List".
namespace qv {

inline constexpr const char* kProviderFileName = "quorvelone.tsp";

// Runs the command and returns the exit code; may end the process with -1
// when the telephony client library cannot be loaded for the removal.
int RunInstaller(int argc, char** argv);

}  // namespace qv
