// The main window without the mouse: menus from the keyboard, the focus from pane to pane.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include "app/DocumentView.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "logging/Terminal.h"
#include "tests/support/TempDatabase.h"

namespace {

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true, true);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        form_ = std::make_unique<TForm1>();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->RootItem()->childCount() > 0; }, 10000));
        form_->activateWindow();
        form_->Nodes->setFocus();
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form_.get(),
                        static_cast<Qt::Key>(key), mods);
    }
    QMenu* OpenMenu() {
        for (QAction* a : form_->menuBar()->actions())
            if (a->menu() && a->menu()->isVisible()) return a->menu();
        return nullptr;
    }
    bool Holds(QWidget* pane) {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == pane || pane->isAncestorOf(focus));
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(KeyboardTest, MenusOpenWithF10AndAltAndTheirLetter) {
    QStringList titles;
    for (QAction* a : form_->menuBar()->actions()) titles << a->text();
    // The captions stay; the first letter is the mnemonic.
    ASSERT_GE(titles.size(), 4);
    EXPECT_EQ(titles.mid(0, 4), (QStringList{"&File", "&Edit", "&Tools", "&Help"}));

    form_->Nodes->setFocus();
    Key(Qt::Key_T, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OpenMenu() != nullptr; }, 5000));
    EXPECT_EQ(OpenMenu()->title(), "&Tools");
    EXPECT_TRUE(OpenMenu()->actions().contains(form_->SettingsAction));
    Key(Qt::Key_Escape);
    Key(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OpenMenu() == nullptr; }, 5000));

    form_->Nodes->setFocus();
    Key(Qt::Key_F10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OpenMenu() != nullptr; }, 5000));
    EXPECT_EQ(OpenMenu(), form_->menuBar()->actions().first()->menu());
}

TEST_F(KeyboardTest, F6MovesTheFocusThroughTreeDocumentAndLog) {
    ASSERT_TRUE(Holds(form_->Nodes));
    Key(Qt::Key_F6);
    EXPECT_TRUE(Holds(form_->HTML));
    Key(Qt::Key_F6);
    EXPECT_TRUE(Holds(form_->Log));
    Key(Qt::Key_F6);
    EXPECT_TRUE(Holds(form_->Nodes));
    Key(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(Holds(form_->Log));
}

}  // namespace
