// Throughput of the reader on one help file, named by VEXMORCHM_BENCH_FILE.
// The LZX figure and the zlib figure for the same decoded bytes come from the
// same run, so their ratio is what to compare across machines.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include "catalogue/uChmExtractor.h"
#include "epub/epub_export.h"
#include "site/site_export.h"
#include "platform/storage/file_source.h"
#include "platform/storage/itsf_directory.h"
#include "platform/storage/lzx_decoder.h"
#include "platform/storage/lzx_section.h"

namespace {

using namespace vexmor::storage;

std::string BenchFile() {
    const char* path = std::getenv("VEXMORCHM_BENCH_FILE");
    if (!path || !*path) throw std::runtime_error("set VEXMORCHM_BENCH_FILE to a help file");
    return path;
}

// The compressed section of the bench file, in memory.
struct CompressedSection {
    LzxSectionLayout layout;
    std::vector<std::uint8_t> content;

    static const CompressedSection& Get() {
        static const CompressedSection section = [] {
            CompressedSection s;
            FileSource file(BenchFile());
            const Directory directory = ReadDirectory(file);
            s.layout = ReadLzxSectionLayout(file, directory, {});
            s.content.resize(static_cast<std::size_t>(s.layout.contentLength));
            file.ReadExact(s.layout.contentFileOffset, s.content.data(), s.content.size(), "the compressed data");
            return s;
        }();
        return section;
    }

    void DecodeSpan(const LzxDecoder& decoder, std::size_t i, std::uint8_t* out) const {
        const auto& offsets = layout.spanOffsets;
        decoder.DecodeSpan(content.data() + offsets[i], static_cast<std::size_t>(layout.SpanInputEnd(i) - offsets[i]),
                           out + layout.SpanStart(i), layout.SpanLength(i));
    }

    // Decodes every span into `out`, which has the section's length plus slack.
    void DecodeAll(std::uint8_t* out) const {
        const LzxDecoder decoder(layout.windowSize);
        for (std::size_t i = 0; i < layout.spanOffsets.size(); ++i) DecodeSpan(decoder, i, out);
    }

    // The same on `threads` threads, each taking the next span not taken.
    // Spans are decoded in turn from the start, as read-ahead does.
    void DecodeAllOn(unsigned threads, std::uint8_t* out) const {
        const LzxDecoder decoder(layout.windowSize);
        std::atomic<std::size_t> next = 0;
        const auto work = [&] {
            for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < layout.spanOffsets.size();)
                DecodeSpan(decoder, i, out);
        };
        std::vector<std::thread> others;
        for (unsigned t = 1; t < threads; ++t) others.emplace_back(work);
        work();
        for (std::thread& thread : others) thread.join();
    }
};

std::vector<std::uint8_t> DecodedBuffer(const CompressedSection& section) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(section.layout.uncompressedLength) + LzxDecoder::kOutputSlack);
}

// The section's decoded bytes deflated by zlib (level 6), to inflate.
struct ZlibSameBytes {
    std::vector<Bytef> packed;
    uLong plainLength = 0;

    static const ZlibSameBytes& Get() {
        static const ZlibSameBytes same = [] {
            const auto& section = CompressedSection::Get();
            auto plain = DecodedBuffer(section);
            section.DecodeAll(plain.data());
            ZlibSameBytes z;
            z.plainLength = static_cast<uLong>(section.layout.uncompressedLength);
            z.packed.resize(compressBound(z.plainLength));
            uLongf packedLength = static_cast<uLongf>(z.packed.size());
            if (compress2(z.packed.data(), &packedLength, plain.data(), z.plainLength, 6) != Z_OK)
                throw std::runtime_error("zlib could not compress the section");
            z.packed.resize(packedLength);
            return z;
        }();
        return same;
    }

    bool Inflate(Bytef* out) const {
        uLongf outLength = plainLength;
        return uncompress(out, &outLength, packed.data(), static_cast<uLong>(packed.size())) == Z_OK &&
               outLength == plainLength;
    }

    // Seconds of the quickest of a few inflations, taken in this run so that
    // every figure can be set against it.
    static double Seconds() {
        static const double seconds = [] {
            const auto& same = Get();
            std::vector<Bytef> out(same.plainLength);
            double best = 1e9;
            for (int i = 0; i < 3; ++i) {
                const auto start = std::chrono::steady_clock::now();
                if (!same.Inflate(out.data())) throw std::runtime_error("zlib could not inflate its own data");
                best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            }
            return best;
        }();
        return seconds;
    }
};

// Wall-clock seconds of the timed work of every iteration, kept apart from
// the library's own timing so that it can be set against zlib's.
class IterationClock {
public:
    template <class Work>
    void Time(Work&& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Zlib's time for the section's bytes over one iteration's: above 1, an
    // iteration takes less time than zlib's inflation of the same bytes.
    void ReportAgainstZlib(benchmark::State& state) const {
        if (seconds_ > 0)
            state.counters["x_zlib"] = ZlibSameBytes::Seconds() * static_cast<double>(state.iterations()) / seconds_;
    }

private:
    double seconds_ = 0;
};

void BM_LzxDecodeSection(benchmark::State& state) {
    const auto& section = CompressedSection::Get();
    auto out = DecodedBuffer(section);
    ZlibSameBytes::Seconds();
    IterationClock clock;
    for (auto _ : state) {
        clock.Time([&] { section.DecodeAll(out.data()); });
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * section.layout.uncompressedLength));
    clock.ReportAgainstZlib(state);
}

// The whole section on several threads; the argument is the number of
// threads, 0 for one per core.
void BM_LzxDecodeSectionParallel(benchmark::State& state) {
    const auto& section = CompressedSection::Get();
    auto out = DecodedBuffer(section);
    unsigned threads = static_cast<unsigned>(state.range(0));
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    ZlibSameBytes::Seconds();
    IterationClock clock;
    for (auto _ : state) {
        clock.Time([&] { section.DecodeAllOn(threads, out.data()); });
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * section.layout.uncompressedLength));
    state.counters["threads"] = threads;
    clock.ReportAgainstZlib(state);
}

void BM_ZlibInflateSameBytes(benchmark::State& state) {
    const auto& same = ZlibSameBytes::Get();
    std::vector<Bytef> out(same.plainLength);
    for (auto _ : state) {
        if (!same.Inflate(out.data())) state.SkipWithError("zlib could not inflate its own data");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * same.plainLength));
}

// Export all of the bench file into a fresh folder in tmpfs (/dev/shm);
// opening the file is not timed. The argument is the number of threads that
// decode ahead: 0 one per core, as the command line does; -1 none, the
// reader decoding alone.
void BM_ExtractAll(benchmark::State& state) {
    const std::string path = BenchFile();
    const std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base)) {
        state.SkipWithError("no /dev/shm");
        return;
    }
    ReaderOptions options;
    options.readAhead = state.range(0) >= 0;
    options.readAheadWorkers = static_cast<unsigned>(std::max<std::int64_t>(0, state.range(0)));
    vexmor::TChmExtractor extractor([&] { return CreateITStorageWithOptions(options); });
    extractor.Open(path);
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i) bytes += extractor.Items()[i].Size;
    ZlibSameBytes::Seconds();
    const std::filesystem::path folder = base / ("vexmorchm-bench-" + std::to_string(::getpid()));
    IterationClock clock;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
        clock.Time([&] { extractor.Items().ExtractAll(folder.string()); });
    }
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    clock.ReportAgainstZlib(state);
}

// The site export of the bench file into a fresh folder in tmpfs, as
// `vexmorchm-cli site` writes it (one decode-ahead thread per core); set it
// against BM_ExtractAll/workers:0 of the same run.
void BM_SiteExport(benchmark::State& state) {
    const std::string path = BenchFile();
    const std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base)) {
        state.SkipWithError("no /dev/shm");
        return;
    }
    vexmor::TChmExtractor extractor;
    extractor.Open(path);
    const vexmor::TChmItems& items = extractor.Items();
    const std::filesystem::path folder = base / ("vexmorchm-bench-site-" + std::to_string(::getpid()));
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
        vexmor::site::SiteExport run(items, path, folder.string());
        bytes = 0;
        for (const std::size_t index : run.Order()) {
            run.Write(items[index]);
            bytes += items[index].Size;
        }
        run.Finish();
    }
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The e-book export of the bench file into a file in tmpfs, as `vexmorchm-cli
// epub` writes it; set it against BM_ExtractAll/workers:0 of the same run.
void BM_EpubExport(benchmark::State& state) {
    const std::string path = BenchFile();
    const std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base)) {
        state.SkipWithError("no /dev/shm");
        return;
    }
    vexmor::TChmExtractor extractor;
    extractor.Open(path);
    const vexmor::TChmItems& items = extractor.Items();
    const std::filesystem::path book = base / ("vexmorchm-bench-" + std::to_string(::getpid()) + ".epub");
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        vexmor::epub::EpubExport run(items, path);
        run.Write(book.string());
        bytes = 0;
        for (const std::size_t index : run.Order()) bytes += items[index].Size;
    }
    std::filesystem::remove(book);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Opening a file and building its catalogue: header, directory, storage walk.
void BM_OpenCatalogue(benchmark::State& state) {
    const std::string path = BenchFile();
    std::size_t items = 0;
    for (auto _ : state) {
        vexmor::TChmExtractor extractor;
        extractor.Open(path);
        items = extractor.Items().Count();
    }
    state.counters["items"] = static_cast<double>(items);
}

BENCHMARK(BM_LzxDecodeSection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzxDecodeSectionParallel)->Arg(2)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateSameBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractAll)->Arg(-1)->Arg(1)->Arg(2)->Arg(0)->ArgName("workers")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SiteExport)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EpubExport)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCatalogue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
