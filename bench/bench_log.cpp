// Cost of one protected log line and of one value encrypted for the server.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Crypto.h"
#include "Log.h"

namespace {

// The log goes to a private HOME that is removed afterwards.
class PrivateHome {
public:
    PrivateHome() {
        char pattern[] = "/tmp/bench-log-XXXXXX";
        if (mkdtemp(pattern)) m_path = pattern;
        setenv("HOME", m_path.c_str(), 1);
    }
    ~PrivateHome() {
        if (!m_path.empty()) {
            unlink((m_path + "/ZEL/bench.log").c_str());
            rmdir((m_path + "/ZEL").c_str());
            rmdir(m_path.c_str());
        }
    }

private:
    std::string m_path;
};

void BM_LogWrite(benchmark::State& state) {
    PrivateHome home;
    LogInit("bench.log", state.range(0) != 0, true);
    int i = 0;
    for (auto _ : state) LogWrite("[CDownload] DownloadToBuffer(%d) took %d ms", i++, 42);
    LogInit("", false, true);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogWrite)->Arg(1)->Arg(0)->ArgName("protected");

void BM_EncryptForServer(benchmark::State& state) {
    const std::string value(static_cast<std::size_t>(state.range(0)), 'v');
    for (auto _ : state) benchmark::DoNotOptimize(EncryptForServer(value));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncryptForServer)->Arg(16)->Arg(256);

void BM_DecryptFromServer(benchmark::State& state) {
    const std::string hex = EncryptForServer(std::string(256, 'v'));
    for (auto _ : state) benchmark::DoNotOptimize(DecryptFromServer(hex));
}
BENCHMARK(BM_DecryptFromServer);

}  // namespace

BENCHMARK_MAIN();
