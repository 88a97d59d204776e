// Throughput of the digests a verifying burn takes of every chunk it sends:
// SHA-256 of the 64 KiB chunk (with the processor's SHA instructions, and
// the portable code) and the fingerprint of each of its blocks. A burn at
// 16x DVD moves 22 MB/s; verification must never wait for the hashing.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/jobs/Digests.h"

namespace {

std::vector<std::uint8_t> chunk() {
    std::vector<std::uint8_t> data(65536);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    return data;
}

void Sha256OfAChunk(benchmark::State& state) {
    std::vector<std::uint8_t> data = chunk();
    for (auto _ : state) benchmark::DoNotOptimize(velk::jobs::Sha256::of(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(Sha256OfAChunk);

// Two chunks side by side, as the verifying burn hashes them.
void Sha256OfTwoChunks(benchmark::State& state) {
    std::vector<std::uint8_t> first = chunk(), second = chunk();
    second[0] ^= 1;
    for (auto _ : state) benchmark::DoNotOptimize(velk::jobs::Sha256::ofTwo(first.data(), second.data(), first.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * static_cast<std::int64_t>(first.size()));
}
BENCHMARK(Sha256OfTwoChunks);

void Sha256OfAChunkPortable(benchmark::State& state) {
    std::vector<std::uint8_t> data = chunk();
    velk::jobs::Sha256::forcePortable(true);
    for (auto _ : state) benchmark::DoNotOptimize(velk::jobs::Sha256::of(data.data(), data.size()));
    velk::jobs::Sha256::forcePortable(false);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(Sha256OfAChunkPortable);

void FingerprintOfEachBlock(benchmark::State& state) {
    std::vector<std::uint8_t> data = chunk();
    for (auto _ : state) {
        for (std::size_t at = 0; at < data.size(); at += 2048) {
            benchmark::DoNotOptimize(velk::jobs::blockFingerprint(data.data() + at, 2048));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(FingerprintOfEachBlock);

}  // namespace

BENCHMARK_MAIN();
