#include "tools/tsphost/provider_choice.h"

#include <cstdio>
#include <filesystem>

#include "installer/tapi32/provider_management.h"

namespace qv::tsphost {

namespace {

std::string locate(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(fileName, error)) return fs::absolute(fileName, error).string();
  // tsphost and the provider are built and shipped side by side.
  const fs::path beside = fs::read_symlink("/proc/self/exe", error).parent_path() / fileName;
  if (!error && fs::exists(beside, error)) return beside.string();
  return fileName;
}

}  // namespace

std::vector<std::string> chooseProviders(const std::vector<std::string>& args) {
  if (!args.empty() && !args[0].empty() && args[0][0] != '-') return {args[0]};
  std::vector<std::string> paths;
  for (const std::string& file : ListedProviderFiles()) paths.push_back(locate(file));
  if (paths.empty()) std::printf("no provider named and none registered (installer adds one)\n");
  for (const std::string& path : paths) std::printf("registered provider: %s\n", path.c_str());
  return paths;
}

}  // namespace qv::tsphost
