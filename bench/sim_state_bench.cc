// The simulated head unit's memory: every runtime start reads the car and its state
// file, every change writes the state file back. Both must stay linear in the number of
// history entries up to the most a unit holds; the plain file format underneath is
// measured further out to show its growth.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ediabas-sim/ini_file.h"
#include "ediabas-sim/sim_car.h"

namespace ediabas_sim {
namespace {

std::filesystem::path BenchFolder() {
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "halvarin-bench-sim";
  std::filesystem::create_directories(folder);
  return folder;
}

std::string HistoryEntry(long long i) {
  return std::to_string(i % 28 + 1) + ";" + std::to_string(i % 12 + 1) + ";2020;0;" + std::to_string(i * 10) +
         ";1;1234567;0x1;1;1;0x1;0;0;";
}

void WriteState(const std::string& path, long long entries) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[G_MMI]\nHISTORY_COUNT = " << entries << "\n";
  for (long long i = 1; i <= entries; ++i) out << "HISTORY_" << i << " = " << HistoryEntry(i) << "\n";
}

// One runtime start (car and state file read) and one change (state file written).
void BM_StartAndChange(benchmark::State& state) {
  const std::string car = (BenchFolder() / "car.ini").string();
  std::ofstream(car, std::ios::binary | std::ios::trunc) << "[G_CAS]\nFGNR = WBAPH71090A123456\n";
  WriteState(TSimCar::StatePathFor(car), state.range(0));
  std::string error;
  for (auto _ : state) {
    std::unique_ptr<TSimCar> sim = TSimCar::Load(car, error);
    if (!sim) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(sim->RunJob("G_MMI", "schreiben_telefonnummern", "1 ;2;3 ;4 ;"));
  }
  state.SetComplexityN(state.range(0));
  std::filesystem::remove_all(BenchFolder());
}
BENCHMARK(BM_StartAndChange)->RangeMultiplier(2)->Range(500, 4000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// The file format alone: read and write a section of n keys.
void BM_IniLoadSave(benchmark::State& state) {
  const std::string path = (BenchFolder() / "keys.state").string();
  WriteState(path, state.range(0));
  for (auto _ : state) {
    std::optional<TIniFile> ini = TIniFile::Load(path);
    benchmark::DoNotOptimize(ini->Get("G_MMI", "HISTORY_1"));
    ini->Save(path, "");
  }
  state.SetComplexityN(state.range(0));
  std::filesystem::remove_all(BenchFolder());
}
BENCHMARK(BM_IniLoadSave)->RangeMultiplier(4)->Range(1000, 256000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ediabas_sim

BENCHMARK_MAIN();
