#pragma once
// Which provider files a subcommand drives: the one named on the command
// line or, as the telephony service does, every provider in TAPI's list.
#include <string>
#include <vector>

namespace qv::tsphost {

// args[0] when given; otherwise the registered providers, each found in the
// current directory or beside tsphost when it is there. Prints what it chose.
std::vector<std::string> chooseProviders(const std::vector<std::string>& args);

}  // namespace qv::tsphost
