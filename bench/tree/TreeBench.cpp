// Expanding a document with 10,000 children on the embedded engine: the window's
// whole expansion (items, placeholders and all), the database read alone, and each
// of its two statements alone, rows fetched and nothing read from them, which is
// the engine's share: what the window adds is the difference.
// Run: QT_QPA_PLATFORM=offscreen build/bench/tree/wf_tree_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <memory>

#include "core/NodeTree.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

constexpr int kChildren = 10000;

// Node 1 under the root with kChildren children; every tenth child has a child.
TTempDatabase& Database() {
    static std::unique_ptr<TTempDatabase> db = [] {
        auto d = std::make_unique<TTempDatabase>(true);
        d->RunIsql(R"(
SET TERM ^ ;
EXECUTE BLOCK AS
DECLARE I INTEGER = 0;
BEGIN
  INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Big', 'big', 'EZTRIP');
  INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);
  WHILE (I < )" + std::to_string(kChildren) +
                   R"() DO
  BEGIN
    INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE)
      VALUES (100 + :I, 'Child ' || :I, 'c' || :I, 'EZTRIP');
    INSERT INTO MASTER_DETAIL VALUES (1, 100 + :I, MOD(:I, 97));
    IF (MOD(:I, 10) = 0) THEN
    BEGIN
      INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE)
        VALUES (1000000 + :I, 'Grandchild ' || :I, 'g' || :I, 'EZTRIP');
      INSERT INTO MASTER_DETAIL VALUES (100 + :I, 1000000 + :I, 1);
    END
    I = I + 1;
  END
END^
SET TERM ; ^
)");
        return d;
    }();
    return *db;
}

void BM_ReadChildren(benchmark::State& state) {
    TDatabase db;
    TTransaction tr(db);
    Database().Connect(db, tr);
    for (auto _ : state) {
        auto children = ReadChildren(db, 1);
        if (children.size() != kChildren) state.SkipWithError("wrong child count");
        benchmark::DoNotOptimize(children);
    }
}
BENCHMARK(BM_ReadChildren)->Unit(benchmark::kMillisecond);

// Runs the statement for node 1 and fetches every row without reading a column.
void FetchAll(benchmark::State& state, std::string_view statement, int expectedRows) {
    TDatabase db;
    TTransaction tr(db);
    Database().Connect(db, tr);
    TQuery q(db);
    for (auto _ : state) {
        q.SetSQL(Statements::WithId(statement, 1));
        int rows = 0;
        for (q.ExecQuery(); !q.Eof(); q.Next()) ++rows;
        if (rows != expectedRows) state.SkipWithError("wrong row count");
    }
}

void BM_ChildNodesQuery(benchmark::State& state) {
    FetchAll(state, Statements::ChildNodesQuery, kChildren);
}
BENCHMARK(BM_ChildNodesQuery)->Unit(benchmark::kMillisecond);

void BM_ChildrenWithChildrenQuery(benchmark::State& state) {
    FetchAll(state, Statements::ChildrenWithChildrenQuery, kChildren / 10);
}
BENCHMARK(BM_ChildrenWithChildrenQuery)->Unit(benchmark::kMillisecond);

void BM_ExpandInWindow(benchmark::State& state) {
    ProjIni = std::make_unique<TIniStore>();
    PutIniText("Interbase", "DatabaseName", Database().Path());
    TForm1 form;
    form.FormShow();
    QTreeWidgetItem* big = form.RootItem()->child(0);
    for (auto _ : state) {
        big->setExpanded(true);
        if (big->childCount() != kChildren) state.SkipWithError("wrong child count");
        state.PauseTiming();
        big->setExpanded(false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpandInWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
