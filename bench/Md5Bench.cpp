// MD5 throughput of Md5Digest against OpenSSL's MD5, on the same messages in the same run.
// The ratio counters (Md5Digest time / OpenSSL time) are what to read; absolute times vary
// with the machine.

#include "wep/Md5Digest.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace {

std::vector<uint8_t> Message(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 17);
    return bytes;
}

void DigestOurs(const std::vector<uint8_t>& message, uint8_t* out)
{
    Md5Digest digest;
    digest.Update(message);
    digest.Finalize();
    const std::vector<uint8_t> raw = digest.RawDigest();
    out[0] = raw[0];
}

void DigestOpenSsl(const std::vector<uint8_t>& message, uint8_t* out)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(message.data(), message.size(), md, &size, EVP_md5(), nullptr);
    out[0] = md[0];
}

template <class F>
double SecondsPerDigest(F digest, const std::vector<uint8_t>& message, int rounds)
{
    uint8_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        digest(message, &sink);
        benchmark::DoNotOptimize(sink);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

void BM_Md5Digest(benchmark::State& state)
{
    const auto message = Message(static_cast<size_t>(state.range(0)));
    uint8_t sink = 0;
    for (auto _ : state) {
        DigestOurs(message, &sink);
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslMd5(benchmark::State& state)
{
    const auto message = Message(static_cast<size_t>(state.range(0)));
    uint8_t sink = 0;
    for (auto _ : state) {
        DigestOpenSsl(message, &sink);
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Both digests, interleaved in short slices so that a noisy neighbour affects both alike;
// reports OpenSSL's time over ours: 1.0 is as fast as OpenSSL, above 1.0 faster.
void BM_Md5SpeedRatio(benchmark::State& state)
{
    const auto message = Message(static_cast<size_t>(state.range(0)));
    const int rounds = state.range(0) >= (1 << 20) ? 2 : 4000;
    double ours = 0;
    double theirs = 0;
    for (auto _ : state) {
        ours += SecondsPerDigest(DigestOurs, message, rounds);
        theirs += SecondsPerDigest(DigestOpenSsl, message, rounds);
    }
    state.counters["speed_vs_openssl"] = theirs / ours;
}

} // namespace

BENCHMARK(BM_Md5Digest)->Arg(64)->Arg(1 << 20);
BENCHMARK(BM_OpenSslMd5)->Arg(64)->Arg(1 << 20);
BENCHMARK(BM_Md5SpeedRatio)->Arg(64)->Arg(1 << 20)->MinTime(2.0);

BENCHMARK_MAIN();
