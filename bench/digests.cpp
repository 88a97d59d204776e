// Throughput of the digests a verifying burn takes of every chunk it sends:
// SHA-256 of the 64 KiB chunk (with the processor's SHA instructions, and
// the portable code), alone and two side by side with the prints of each
// block as the burn takes them. A burn at
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

// As the burn hashes what it sends: with a print after each block.
void Sha256OfTwoChunksWithPrints(benchmark::State& state) {
    std::vector<std::uint8_t> first = chunk(), second = chunk();
    second[0] ^= 1;
    std::uint64_t printsFirst[32], printsSecond[32];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            velk::jobs::Sha256::ofTwo(first.data(), second.data(), first.size(), 2048, printsFirst, printsSecond));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * static_cast<std::int64_t>(first.size()));
}
BENCHMARK(Sha256OfTwoChunksWithPrints);

// Sixteen chunks, as the burn and the read-back hash a full group: with
// 512-bit vectors (where the processor has them) and with the SHA
// instructions two by two. The job takes whichever it measures faster.
void Sha256OfSixteenChunks(benchmark::State& state) {
    if (!velk::jobs::Sha256::forceWideLanes(static_cast<int>(state.range(0)))) {
        state.SkipWithError("no 512-bit vectors on this processor");
        return;
    }
    std::vector<std::vector<std::uint8_t>> chunks(16, chunk());
    const std::uint8_t* messages[16];
    for (std::size_t n = 0; n < 16; ++n) {
        chunks[n][0] = static_cast<std::uint8_t>(n);
        messages[n] = chunks[n].data();
    }
    velk::jobs::Sha256Digest digests[16];
    for (auto _ : state) {
        velk::jobs::Sha256::ofMany(messages, 16, 65536, digests);
        benchmark::ClobberMemory();
    }
    velk::jobs::Sha256::forceWideLanes(0);
    state.SetLabel(state.range(0) > 0 ? "512-bit vectors" : "SHA instructions, two by two");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16 * 65536);
}
BENCHMARK(Sha256OfSixteenChunks)->Arg(1)->Arg(-1);

}  // namespace

BENCHMARK_MAIN();
