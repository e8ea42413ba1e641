// The costs every entry point pays: the log call (suppressed and written),
// and reading or writing the settings store.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "session/log.h"
#include "session/settings.h"

namespace {

std::filesystem::path scratch() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / "qv-foundation-bench";
    std::filesystem::create_directories(d);
    setenv("QUORVELONE_REGISTRY", (d / "registry.reg").c_str(), 1);
    return d;
  }();
  return dir;
}

void useLog(int level, int length) {
  qv::ProviderSettings s;
  s.loglevel = level;
  s.loglength = length;
  s.logfile = (scratch() / "bench.log").string();
  qv::ReplaceSettings(s);
  qv::resetLogForTesting();
}

// A trace below the configured level: the common case with logging off.
void BM_WriteLogSuppressed(benchmark::State& state) {
  useLog(0, 1000);
  for (auto _ : state) qv::writeLog(5, "TSPI_lineGetDevCaps");
}
BENCHMARK(BM_WriteLogSuppressed);

// A trace that reaches the file (formatted, written, flushed).
void BM_WriteLogWritten(benchmark::State& state) {
  useLog(5, 0x7FFFFFFF);
  for (auto _ : state) qv::writeLog(5, "TSPI_lineGetDevCaps");
  qv::resetLogForTesting();
}
BENCHMARK(BM_WriteLogWritten);

// Past loglength: the line count test drops it after the file is open.
void BM_WriteLogPastLength(benchmark::State& state) {
  useLog(5, 1);
  qv::writeLog(5, "first");
  for (auto _ : state) qv::writeLog(5, "TSPI_lineGetDevCaps");
  qv::resetLogForTesting();
}
BENCHMARK(BM_WriteLogPastLength);

void fillStore() {
  scratch();
  qv::deleteProviderKeyForTesting();
  for (const char* name : {"username", "password", "domain", "address", "port", "encrypt", "autooriginate",
                           "loglevel", "loglength", "logfile", "guid"})
    qv::WriteSetting(name, "1");
}

// One provider start's worth of reads: eleven values, each a full open and parse.
void BM_ReadSettings(benchmark::State& state) {
  fillStore();
  useLog(0, 0);
  for (auto _ : state) qv::ReadSettings();
}
BENCHMARK(BM_ReadSettings);

// One value written: lock, read, rewrite a temporary file, fsync, rename.
void BM_WriteSetting(benchmark::State& state) {
  fillStore();
  useLog(0, 0);
  for (auto _ : state) qv::WriteSetting("port", "5060");
}
BENCHMARK(BM_WriteSetting)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
