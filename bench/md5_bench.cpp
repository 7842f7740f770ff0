// Md5Context against OpenSSL's MD5 on the same buffers in the same run.
//
//   build/bin/md5_bench [--benchmark_repetitions=5 ...]
//
// After the usual table it prints one line per buffer size with both
// throughputs and their ratio (Md5Context / OpenSSL); with repetitions the
// medians are compared.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/md5_context.hpp"

namespace {

constexpr std::int64_t KIB = 1024;
constexpr std::int64_t MIB = 1024 * KIB;

const std::vector<std::uint8_t>& Buffer(std::size_t size) {
    static std::map<std::size_t, std::vector<std::uint8_t>> buffers;
    auto& buffer = buffers[size];
    if (buffer.size() != size) {
        std::mt19937_64 random(size);
        buffer.resize(size);
        for (auto& byte : buffer) {
            byte = static_cast<std::uint8_t>(random());
        }
    }
    return buffer;
}

void Md5Context(benchmark::State& state) {
    const auto& buffer = Buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        korvane::Digest digest = korvane::Md5Context::Of(buffer);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The digest fetched once and one context reused, as a careful caller would:
// what remains is OpenSSL's block function.
void OpenSsl(benchmark::State& state) {
    const auto& buffer = Buffer(static_cast<std::size_t>(state.range(0)));
    const std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, "MD5", nullptr),
                                                             &EVP_MD_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!md || !context) {
        state.SkipWithError("OpenSSL has no MD5");
        return;
    }
    for (auto _ : state) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestInit_ex(context.get(), md.get(), nullptr) != 1 ||
            EVP_DigestUpdate(context.get(), buffer.data(), buffer.size()) != 1 ||
            EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
            state.SkipWithError("OpenSSL MD5 failed");
            return;
        }
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(Md5Context)->Arg(8 * KIB)->Arg(1 * MIB)->Arg(64 * MIB);
BENCHMARK(OpenSsl)->Arg(8 * KIB)->Arg(1 * MIB)->Arg(64 * MIB);

// The console table, then the side-by-side ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            // Single runs, or the median when repeated.
            const bool repeated = run.run_type == Run::RT_Aggregate;
            if (repeated && run.aggregate_name != "median") {
                continue;
            }
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            auto& entry = rates_[std::stoll(run.run_name.args)];
            (name == "Md5Context" ? entry.ours : entry.theirs) = rate->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-10s %16s %16s %8s\n", "bytes", "Md5Context MB/s", "OpenSSL MB/s", "ratio");
        for (const auto& [size, entry] : rates_) {
            if (entry.ours > 0 && entry.theirs > 0) {
                std::printf("%-10lld %16.1f %16.1f %8.3f\n", size, entry.ours / 1e6,
                            entry.theirs / 1e6, entry.ours / entry.theirs);
            }
        }
    }

private:
    struct Rates {
        double ours = 0;
        double theirs = 0;
    };
    std::map<long long, Rates> rates_;  // by buffer size
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
