// The main window comes back as the user left it; the first start is maximised.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include "app/WayfolioFr.h"
#include "app/WindowLayout.h"
#include "config/AuxProj.h"
#include "tests/support/TempDatabase.h"

namespace {

TEST(WindowLayoutTest, SizePositionStateAndSplittersComeBackInAFileOfTheirOwn) {
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    TTempDatabase db(true, true);
    ProjIni = std::make_unique<TIniStore>();
    ProjIniName = db.Folder() + "/wayfolio.ini";
    PutIniText("Interbase", "DatabaseName", db.Path());
    auto start = [](TForm1& form) {
        ShowWithLayout(&form, {form.Splitter1, form.Splitter3});
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    };
    auto end = [](TForm1& form) {
        form.close();
        SaveLayout(&form, {form.Splitter1, form.Splitter3});
    };

    QList<int> tree, log;
    {
        TForm1 form;
        start(form);
        EXPECT_TRUE(form.isMaximized());  // nothing kept yet
        form.showNormal();
        form.setGeometry(40, 50, 700, 500);
        form.Splitter1->setSizes({250, 440});
        form.Splitter3->setSizes({300, 120});
        tree = form.Splitter1->sizes();
        log = form.Splitter3->sizes();
        end(form);
    }
    EXPECT_EQ(LayoutFileName(), state.path() + "/wayfolio/window.ini");
    EXPECT_TRUE(QFileInfo::exists(LayoutFileName()));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ProjIniName)));  // not the settings
    {
        TForm1 form;
        start(form);
        EXPECT_FALSE(form.isMaximized());
        EXPECT_EQ(form.geometry(), QRect(40, 50, 700, 500));
        EXPECT_EQ(form.Splitter1->sizes(), tree);
        EXPECT_EQ(form.Splitter3->sizes(), log);
        form.showMaximized();
        end(form);
    }
    {
        TForm1 form;
        start(form);
        EXPECT_TRUE(form.isMaximized());
        EXPECT_EQ(form.Splitter1->sizes().first(), tree.first());
        form.close();
    }
    ProjIni.reset();
    qputenv("XDG_STATE_HOME", savedState);
}

}  // namespace
