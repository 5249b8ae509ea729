// One poll of the request file as the stored-value sub-scheme makes it once
// a second: open a TIniFile, read one integer, free the object.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "winlib/inifile.h"

namespace {

void BM_IniPollRead(benchmark::State& state) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = fs::temp_directory_path(ec) / ("msw-ini-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir, ec);
    const std::string file = (dir / "vr.ini").string();
    std::ofstream(file, std::ios::binary) << "[params]\r\np1=5\r\np2=0\r\n[znah]\r\np1=1\r\n";

    std::int64_t sum = 0;
    for (auto _ : state) {
        TObjPtr<TIniFile> ini = NewObj<TIniFile>(file);
        ini->Section = "znah";
        sum += ini->AccessInteger("p1", 0);
    }
    benchmark::DoNotOptimize(sum);
    if (sum != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("the key was not read");
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_IniPollRead);

}  // namespace
