// Composing a concatenation once the rows are read: every marked document through
// the piece template, then the frame around all pieces. Throughput is the size of
// the finished document per second; the time should grow linearly with it.
#include <benchmark/benchmark.h>

#include <string>

#include "core/Compose.h"

namespace {

// The shipped piece and frame templates.
const std::string kPiece = "<div class=\"document\">\n<h2><#TITLE#></h2>\n<#BODY#>\n</div>\n";
const std::string kFrame =
    "<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv=\"Content-Type\" "
    "content=\"text/html; charset=<#ENCODING#>\">\n<title><#TITLE#></title>\n<style>\n"
    "body { font-family: sans-serif; margin: 1.5em 2em; line-height: 1.45; color: #222; }\n"
    "</style>\n</head>\n<body>\n<h1><#TITLE#></h1>\n<#BODY#>\n</body>\n</html>\n";

TMemoryRow MakeRow(int nodeId, size_t bodySize) {
    std::string body;
    body.reserve(bodySize);
    while (body.size() < bodySize)
        body += "<p>Travel guide text, caf\xE9 \xC3\xA9 &amp; more.</p>\n";
    body.resize(bodySize);
    TMemoryRow row;
    row.Columns = {{"NODE_ID", false, std::to_string(nodeId)},
                   {"TITLE", false, "Document " + std::to_string(nodeId)},
                   {"ORIG_URL", false, "http://www.example.com/guide/" + std::to_string(nodeId)},
                   {"ORIG_ID", false, std::to_string(nodeId)},
                   {"GUIDE_TYPE", false, "EZTRIP"},
                   {"READ_CONTENT", false, "Y"},
                   {"BODY", false, body},
                   {"HEAD", true, ""},
                   {"ENCODING", false, "windows-1250"},
                   {"STAMP_UPDATED", false, "2024-03-05 14:07:09"}};
    return row;
}

// range(0): documents joined, 50 KB each; range(1): SQL dialect. Every size here
// gives a result above the C library's largest mmap threshold (32 MB), so each run
// gets fresh pages, as a real join of that size does; a smaller result would reuse
// the memory the previous run freed and measure only memory-copy speed.
void BM_Concatenation(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int dialect = static_cast<int>(state.range(1));
    std::vector<TPiece> pieces(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        pieces[static_cast<size_t>(i)].Template = kPiece;
        pieces[static_cast<size_t>(i)].Row = MakeRow(i + 1, 50 * 1024);
    }
    const TMemoryRow frameRow = MakeRow(0, 100);
    size_t outputSize = 0;
    for (auto _ : state) {
        std::string result;
        ComposeConcatenation(result, kFrame, frameRow, pieces, dialect);
        outputSize = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(outputSize));
    state.counters["output_MB"] = static_cast<double>(outputSize) / 1e6;
    state.SetComplexityN(static_cast<int64_t>(outputSize));
}
BENCHMARK(BM_Concatenation)
    ->Args({1000, 3})
    ->Args({1500, 3})
    ->Args({2000, 3})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// A template of range(0) MB made of markers: closed ones naming columns, names that
// are no column, and, in the second half, unclosed ones.
void BM_MarkerHeavyTemplate(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    std::string templ;
    templ.reserve(size);
    while (templ.size() < size / 2) templ += "<td><#TITLE#></td><td><# orig_url #></td><#NOPE#>";
    while (templ.size() < size) templ += "<#x <#y ";
    const TMemoryRow row = MakeRow(7, 64);
    size_t outputSize = 0;
    for (auto _ : state) {
        std::string out;
        ComposeTemplate(out, templ, nullptr, row, 1);
        outputSize = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(templ.size()));
    state.counters["output_MB"] = static_cast<double>(outputSize) / 1e6;
    state.SetComplexityN(static_cast<int64_t>(templ.size()));
}
BENCHMARK(BM_MarkerHeavyTemplate)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
