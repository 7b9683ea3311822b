// The search index over 10,000 documents of 20 KB and one of 21 MB on the embedded
// engine: building it from nothing, queries, and catching up after 100 documents
// changed.
// Run: build/bench/search/wf_search_bench
// Targets: build >= 20 MB/s of stored body, a query < 50 ms, the catch-up < 1 s; a
// query whose every match gets its snippet, the 21 MB one among them, < 0.5 s; the
// longest query taken < 1 s, and a 1,000-word one refused at once.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/DocumentSearch.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

// WF_SEARCH_BENCH_DOCS overrides the count for a quick look.
const int kDocuments = [] {
    const char* n = std::getenv("WF_SEARCH_BENCH_DOCS");
    return n && std::atoi(n) > 100 ? std::atoi(n) : 10000;
}();
constexpr size_t kBodyBytes = 20 * 1024;
// One document far larger than the rest, full of the most common word.
constexpr size_t kLargeBytes = 21 * 1024 * 1024;
const int kLargeId = kDocuments + 1;

// A vocabulary of made-up words with a natural spread of frequencies, so that the
// index holds as many distinct terms as real guide pages do.
const std::vector<std::string>& Words() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        std::mt19937 rng(7);
        const char* syllables[] = {"ka", "lo", "mi",  "ne",  "sa",  "tu",  "ri",  "vo",  "de", "ba",
                                   "zu", "pe", "gor", "lin", "tas", "mer", "ché", "fjö", "ñu"};
        for (int i = 0; i < 20000; ++i) {
            std::string word;
            const int n = 2 + rng() % 3;
            for (int k = 0; k < n; ++k) word += syllables[rng() % 19];
            w.push_back(word);
        }
        return w;
    }();
    return words;
}

std::string MakeBody(std::mt19937& rng, int doc) {
    const auto& words = Words();
    std::string body = "<h1>Document " + std::to_string(doc) + "</h1>\n";
    std::geometric_distribution<int> pick(0.002);
    while (body.size() < kBodyBytes) {
        body += "<p class=\"text\">";
        for (int i = 0; i < 40; ++i) {
            const std::string& w = words[std::min<size_t>(pick(rng), words.size() - 1)];
            if (i % 13 == 5)
                body += "<b>" + w + "</b> ";
            else if (i % 17 == 3)
                body += "<a href=\"/g/" + w + ".html\">" + w + "</a> ";
            else
                body += w + ' ';
        }
        body += "</p>\n";
    }
    return body;
}

struct TFixture {
    TTempDatabase temp;
    TDatabase db;
    TTransaction tr{db};
    std::string indexPath;
    double bodyBytes = 0;

    TFixture() {
        temp.Connect(db, tr);
        indexPath = temp.Folder() + "/index.sqlite";
        std::mt19937 rng(42);
        TQuery insert(db);
        insert.SetSQL(
            "INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,GUIDE_TYPE,BODY,ENCODING,"
            "STAMP_UPDATED) VALUES(:Id,:Title,:Url,:OrigId,'EZTRIP',:Body,'utf-8','NOW')");
        for (int i = 1; i <= kDocuments; ++i) {
            const std::string body = MakeBody(rng, i);
            bodyBytes += body.size();
            insert.SetParam("Id", i);
            insert.SetParam("Title", "Guide page " + std::to_string(i));
            insert.SetParam("Url", "http://127.0.0.1/p" + std::to_string(i));
            insert.SetParam("OrigId", "p" + std::to_string(i));
            insert.SetParam("Body", body);
            insert.ExecSQL();
            if (i % 500 == 0) tr.CommitRetaining();
        }
        tr.CommitRetaining();
        // Pages of ordinary text with the most common word as every eighth word.
        std::string large;
        large.reserve(kLargeBytes + kBodyBytes);
        const std::string& common = Words()[0];
        while (large.size() < kLargeBytes) {
            large += "<p>";
            for (int i = 0; i < 40; ++i)
                large += (i % 8 == 0 ? common : Words()[rng() % Words().size()]) + ' ';
            large += "</p>\n";
        }
        bodyBytes += large.size();
        insert.SetParam("Id", kLargeId);
        insert.SetParam("Title", std::string("The large page"));
        insert.SetParam("Url", std::string("http://127.0.0.1/large"));
        insert.SetParam("OrigId", std::string("large"));
        insert.SetParam("Body", large);
        insert.ExecSQL();
        tr.CommitRetaining();
    }

    void Change(int first, int count, int round) {
        TQuery q(db);
        q.SetSQL(std::string(Statements::UpdateNodeContent));
        std::mt19937 rng(round);
        for (int i = first; i < first + count; ++i) {
            q.SetParam("NodeId", i);
            q.SetParam("Title", "Changed page " + std::to_string(i));
            q.SetParam("Body", MakeBody(rng, i) + "<p>quetzalround" + std::to_string(round));
            q.SetParam("Head", std::string());
            q.SetParam("Encoding", std::string("utf-8"));
            q.ExecSQL();
        }
        tr.CommitRetaining();
    }
};

TFixture& Fixture() {
    static std::unique_ptr<TFixture> f = std::make_unique<TFixture>();
    return *f;
}

// Markup removal and decoding alone, on one document (no database, no index).
void BM_SearchableText(benchmark::State& state) {
    std::mt19937 rng(1);
    const std::string body = MakeBody(rng, 1);
    for (auto _ : state) benchmark::DoNotOptimize(SearchableText(body, "utf-8"));
    state.SetBytesProcessed(static_cast<int64_t>(body.size()) * state.iterations());
}
BENCHMARK(BM_SearchableText);

void BM_BuildFromNothing(benchmark::State& state) {
    TFixture& f = Fixture();
    for (auto _ : state) {
        state.PauseTiming();
        TSearchIndex::RemoveFiles(f.indexPath);
        state.ResumeTiming();
        TDocumentSearch search(f.db, f.indexPath);
        const TCatchUp result = search.CatchUp();
        if (result.Indexed != kDocuments + 1) state.SkipWithError("not every document indexed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(f.bodyBytes) * state.iterations());
}
// Real time (the writer thread works beside the reading one); CPU is the process's.
BENCHMARK(BM_BuildFromNothing)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// A search as the window runs it: the catch-up finding nothing to do, then the query.
void BM_Query(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    const char* queries[] = {"kalo", "\"sami ne\"", "tas*", "gorlin mersa"};
    size_t hits = 0;
    int i = 0;
    for (auto _ : state) hits += search.Search(queries[i++ % 4], 50).size();
    state.counters["hits/query"] = static_cast<double>(hits) / state.iterations();
}
BENCHMARK(BM_Query)->Unit(benchmark::kMillisecond);

// The look at the database before each query, when nothing changed.
void BM_CatchUpNothingChanged(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    for (auto _ : state)
        if (search.CatchUp().Indexed != 0) state.SkipWithError("indexed again");
}
BENCHMARK(BM_CatchUpNothingChanged)->Unit(benchmark::kMillisecond);

// The query alone, without looking at the database.
void BM_QueryIndexOnly(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    const char* queries[] = {"kalo", "\"sami ne\"", "tas*", "gorlin mersa"};
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(search.SearchIndexOnly(queries[i++ % 4], 50));
}
BENCHMARK(BM_QueryIndexOnly)->Unit(benchmark::kMillisecond);

// The most common word, every match listed with its snippet (as wayfolio-cli search
// does), the 21 MB page among them: what used to grow with the square of its matches.
void BM_QueryEveryMatchWithLargePage(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    size_t hits = 0;
    bool large = false;
    for (auto _ : state) {
        const auto found = search.Search(Words()[0], 0);
        hits = found.size();
        for (const TSearchHit& hit : found) large = large || hit.NodeId == kLargeId;
    }
    if (!large) state.SkipWithError("the large page was not found");
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_QueryEveryMatchWithLargePage)->Unit(benchmark::kMillisecond);

// The longest query taken: kMaxQueryTerms common words, all of them, or any of them.
void BM_QueryLongest(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    std::string query;
    for (int i = 0; i < kMaxQueryTerms; ++i)
        query += (i && state.range(0) ? " OR " : " ") + Words()[i];
    size_t hits = 0;
    for (auto _ : state) hits = search.Search(query, 50).size();
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_QueryLongest)->Arg(0)->Arg(1)->ArgName("or")->Unit(benchmark::kMillisecond);

// A pasted page of 1,000 words: refused before the database or the index is read.
void BM_QueryThousandWordsRefused(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    std::string query;
    for (int i = 0; i < 1000; ++i) query += Words()[i] + ' ';
    for (auto _ : state) {
        try {
            search.Search(query, 50);
            state.SkipWithError("a 1,000-word query was taken");
        } catch (const ESearchQuery&) {
        }
    }
}
BENCHMARK(BM_QueryThousandWordsRefused)->Unit(benchmark::kMicrosecond);

void BM_CatchUp100Changed(benchmark::State& state) {
    TFixture& f = Fixture();
    TDocumentSearch search(f.db, f.indexPath);
    search.CatchUp();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.Change(1 + (round * 100) % (kDocuments - 100), 100, round + 1000);
        ++round;
        state.ResumeTiming();
        const TCatchUp result = search.CatchUp();
        if (result.Indexed != 100) state.SkipWithError("not 100 documents indexed");
    }
}
BENCHMARK(BM_CatchUp100Changed)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
