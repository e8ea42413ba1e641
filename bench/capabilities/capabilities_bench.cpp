// Cost of the answers TAPI asks for most: device and address capabilities
// (with the settings copy and log-level check they include), the GUID text,
// and a provider list of typical and large size.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "installer/provider_list_format.h"
#include "platform/tapi.h"
#include "provider/capability_answers.h"
#include "session/settings.h"

namespace {

void prepareSettings() {
  qv::ProviderSettings settings;
  settings.username = "201";
  settings.guid = "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9";
  qv::ReplaceSettings(settings);
}

void BM_LineGetDevCaps(benchmark::State& state) {
  prepareSettings();
  std::vector<std::uint32_t> words(1024 / 4);
  for (auto _ : state) {
    words[0] = 1024;
    benchmark::DoNotOptimize(
        TSPI_lineGetDevCaps(0, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(words.data())));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LineGetDevCaps);

void BM_LineGetAddressCaps(benchmark::State& state) {
  prepareSettings();
  std::vector<std::uint32_t> words(1024 / 4);
  for (auto _ : state) {
    words[0] = 1024;
    benchmark::DoNotOptimize(
        TSPI_lineGetAddressCaps(0, 0, 0x00020002, 0, reinterpret_cast<LINEADDRESSCAPS*>(words.data())));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LineGetAddressCaps);

void BM_ParseLineGuid(benchmark::State& state) {
  const std::string text = "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9";
  for (auto _ : state) benchmark::DoNotOptimize(qv::ParseLineGuid(text));
}
BENCHMARK(BM_ParseLineGuid);

void BM_WriteProviderList(benchmark::State& state) {
  std::vector<std::pair<std::uint32_t, std::string>> providers;
  for (int i = 0; i < state.range(0); ++i)
    providers.emplace_back(i + 1, "provider" + std::to_string(i) + ".tsp");
  std::vector<std::uint32_t> words(65536 / 4);
  auto* list = reinterpret_cast<unsigned char*>(words.data());
  for (auto _ : state) {
    words[0] = 65536;
    benchmark::DoNotOptimize(qv::WriteProviderList(list, providers, true));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WriteProviderList)->Arg(5)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
