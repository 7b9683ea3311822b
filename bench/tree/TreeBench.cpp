// Expanding a document with 10,000 children on the embedded engine: the database
// read alone, and the window's whole expansion (items, placeholders and all).
// Run: QT_QPA_PLATFORM=offscreen build/bench/tree/wf_tree_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <memory>

#include "app/NodeTree.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
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
