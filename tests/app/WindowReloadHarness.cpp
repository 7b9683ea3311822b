// A harness for the crash tests: the real main window, offscreen, started as the
// program starts it, which then runs "Reload branch documents" on one top-level
// document and ends when the run is over.
//
//   wf_window_reload_harness -I:FILE NODE_ID
#include <QApplication>
#include <QTimer>
#include <QTreeWidgetItem>
#include <cstdio>
#include <cstdlib>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "config/CmdLine.h"

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wf_window_reload_harness -I:FILE NODE_ID\n");
        return 2;
    }
    CmdLine::SetParams(argc, argv);
    ProjIniInit();
    ProjIniAutoSave = false;
    const int nodeId = std::atoi(argv[argc - 1]);
    int rc = 1;
    {
        QApplication app(argc, argv);
        TForm1 form;
        form.showMaximized();
        // Queued after the window's own first loading of the tree.
        QTimer::singleShot(0, &form, [&] {
            QTreeWidgetItem* root = form.RootItem();
            for (int i = 0; root && i < root->childCount(); ++i) {
                if (TForm1::NodeIdOf(root->child(i)) != nodeId) continue;
                form.Nodes->setCurrentItem(root->child(i));
                form.ReloadChildrenAction->trigger();
                rc = 0;
            }
            if (rc != 0) std::fprintf(stderr, "no top-level document %d\n", nodeId);
            app.quit();
        });
        app.exec();
    }
    return rc;
}
