// Throughput of the reader on one help file, named by VEXMORCHM_BENCH_FILE.
// The LZX figure and the zlib figure for the same decoded bytes come from the
// same run, so their ratio is what to compare across machines.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "catalogue/uChmExtractor.h"
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
            s.layout = ReadLzxSectionLayout(file, directory);
            s.content.resize(static_cast<std::size_t>(s.layout.contentLength));
            file.ReadExact(s.layout.contentFileOffset, s.content.data(), s.content.size(), "the compressed data");
            return s;
        }();
        return section;
    }

    // Decodes every span into `out`, which has the section's length plus slack.
    void DecodeAll(std::uint8_t* out) const {
        const LzxDecoder decoder(layout.windowSize);
        const auto& offsets = layout.spanOffsets;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            decoder.DecodeSpan(content.data() + offsets[i], static_cast<std::size_t>(layout.SpanInputEnd(i) - offsets[i]),
                               out + layout.SpanStart(i), layout.SpanLength(i));
    }
};

std::vector<std::uint8_t> DecodedBuffer(const CompressedSection& section) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(section.layout.uncompressedLength) + LzxDecoder::kOutputSlack);
}

void BM_LzxDecodeSection(benchmark::State& state) {
    const auto& section = CompressedSection::Get();
    auto out = DecodedBuffer(section);
    for (auto _ : state) {
        section.DecodeAll(out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * section.layout.uncompressedLength));
}

void BM_ZlibInflateSameBytes(benchmark::State& state) {
    const auto& section = CompressedSection::Get();
    auto plain = DecodedBuffer(section);
    section.DecodeAll(plain.data());
    const auto plainLength = static_cast<uLong>(section.layout.uncompressedLength);
    std::vector<Bytef> packed(compressBound(plainLength));
    uLongf packedLength = static_cast<uLongf>(packed.size());
    if (compress2(packed.data(), &packedLength, plain.data(), plainLength, 6) != Z_OK)
        throw std::runtime_error("zlib could not compress the section");
    std::vector<Bytef> out(plainLength);
    for (auto _ : state) {
        uLongf outLength = plainLength;
        if (uncompress(out.data(), &outLength, packed.data(), packedLength) != Z_OK || outLength != plainLength)
            state.SkipWithError("zlib could not inflate its own data");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plainLength));
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
BENCHMARK(BM_ZlibInflateSameBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCatalogue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
