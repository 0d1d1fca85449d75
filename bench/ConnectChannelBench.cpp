// The cost of each verb of the connect channel, as a ratio against a plain 32-bit store (for
// the posts) or load (for the poll) of the same block, measured in the same run.

#include "link/ConnectChannel.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::array<uint8_t, 20> kKeys = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
constexpr double kMinTime = 0.05;

struct Fixture {
    std::unique_ptr<ConnectBlock> block = std::make_unique<ConnectBlock>();
    ConnectChannel channel{block.get()};
};

void Baseline_Store(benchmark::State& state)
{
    Fixture f;
    uint32_t value = 0;
    for (auto _ : state) {
        f.block->cmdWord = value++;
        benchmark::ClobberMemory();
    }
}

void Baseline_Load(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state) {
        benchmark::ClobberMemory();
        uint32_t word = f.block->statusWord;
        benchmark::DoNotOptimize(word);
    }
}

void PostLinkInfo(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.channel.PostLinkInfo();
}

void PostChannelList(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.channel.PostChannelList();
}

void Withdraw(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.channel.Withdraw();
}

void PostConfig(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.channel.PostConfig({1, 8, 0, 6, u"HomeNet"});
}

void PostConfig33Chars(benchmark::State& state)
{
    Fixture f;
    const std::u16string name(33, u'n');
    for (auto _ : state)
        f.channel.PostConfig({1, 8, 0, 6, name});
}

void PostWep64(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.channel.PostWep(2, 1, kKeys);
}

void PostWep128(benchmark::State& state)
{
    Fixture f;
    std::span<const uint8_t> key(kKeys.data(), 13);
    for (auto _ : state)
        f.channel.PostWep(6, 1, key);
}

void Poll(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state) {
        bool answered = f.channel.Poll(STAT_LINK_INFO);
        benchmark::DoNotOptimize(answered);
    }
}

// Each verb with the baseline it is compared with.
const std::vector<std::pair<std::string, std::string>> kComparisons = {
    {"PostLinkInfo", "Baseline_Store"}, {"PostChannelList", "Baseline_Store"},
    {"Withdraw", "Baseline_Store"},     {"PostConfig", "Baseline_Store"},
    {"PostConfig33Chars", "Baseline_Store"}, {"PostWep64", "Baseline_Store"},
    {"PostWep128", "Baseline_Store"},   {"Poll", "Baseline_Load"},
};

// Prints as usual and keeps each run's CPU time per iteration for the summary: CPU time,
// because the machine is shared and wall time counts the waits for it.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            nanoseconds_[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary() const
    {
        std::printf("\n%-20s %12s %10s  %s\n", "verb", "CPU ns/op", "ratio", "against");
        for (const auto& [verb, baseline] : kComparisons) {
            auto v = nanoseconds_.find(verb);
            auto b = nanoseconds_.find(baseline);
            if (v == nanoseconds_.end() || b == nanoseconds_.end() || b->second <= 0)
                continue;
            std::printf("%-20s %12.2f %9.1fx  %s (%.2f ns)\n", verb.c_str(), v->second,
                        v->second / b->second, baseline.c_str(), b->second);
        }
    }

private:
    std::map<std::string, double> nanoseconds_;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("Baseline_Store", Baseline_Store)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("Baseline_Load", Baseline_Load)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostLinkInfo", PostLinkInfo)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostChannelList", PostChannelList)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("Withdraw", Withdraw)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostConfig", PostConfig)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostConfig33Chars", PostConfig33Chars)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostWep64", PostWep64)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("PostWep128", PostWep128)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("Poll", Poll)->MinTime(kMinTime);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
