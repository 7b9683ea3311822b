// Text that does not fit: the tree's tool tips and the status bar's hint panel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QSplitter>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "tests/support/TempDatabase.h"

namespace {

const std::string kLong =
    "A very long guide title that no narrow tree shows whole, about lakes, ridges and ferries";

class CutTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true);
        db_->RunIsql(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (10, 'Short', 's', "
            "'EZTRIP');\n"
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (11, '" +
            kLong +
            "', 'l', 'EZTRIP');\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 10, 1);\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 11, 2);\n");
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        form_ = std::make_unique<TForm1>();
        form_->resize(800, 500);
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->RootItem()->childCount() == 2; }, 10000));
        form_->Splitter1->setSizes({180, 620});
    }
    void TearDown() override {
        QToolTip::hideText();
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    // Asks the tree for the tool tip over item; the text shown, empty for none.
    QString ToolTipOver(QTreeWidgetItem* item) {
        QToolTip::hideText();  // goes after a short delay
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000));
        QWidget* viewport = form_->Nodes->viewport();
        const QPoint at = form_->Nodes->visualItemRect(item).center();
        QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(CutTextTest, ACutTitleShowsWholeAsToolTipAndLongHintsDoNotWidenTheWindow) {
    EXPECT_EQ(ToolTipOver(form_->RootItem()->child(1)), QString::fromStdString(kLong));
    EXPECT_EQ(ToolTipOver(form_->RootItem()->child(0)), "");  // "Short" fits

    const QString hint = QString::fromStdString(kLong + ", " + kLong + ", " + kLong);
    form_->ShowHint(hint);
    EXPECT_EQ(form_->StatusPanel1->text(), hint);  // kept whole, drawn cut
    EXPECT_LT(form_->StatusPanel1->minimumSizeHint().width(), 200);
    EXPECT_LE(form_->minimumSizeHint().width(), 800);
}

}  // namespace
