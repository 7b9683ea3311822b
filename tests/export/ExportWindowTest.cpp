// "Export book..." in the real main window (offscreen): the marked documents in tree
// order, nested by their marked ancestors, as an EPUB and as a PDF.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/BookExport.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "tests/support/TempDatabase.h"

namespace {

// Top level in tree order: 12 Gamma, 10 Beta, 11 Alpha. 10 has children 20 and 21;
// 20 has child 30.
const char* kTree = R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING) VALUES (10, 'Beta', 'b', 'EZTRIP', 'beta body', 'utf-8');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (11, 'Alpha', 'a', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (12, 'Gamma', 'g', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (20, 'Child 20', 'c20', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (21, 'Child 21', 'c21', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY) VALUES (30, 'Grandchild 30', 'c30', 'EZTRIP', '<p>deep</p>');
INSERT INTO MASTER_DETAIL VALUES (0, 10, 1);
INSERT INTO MASTER_DETAIL VALUES (0, 11, 2);
INSERT INTO MASTER_DETAIL VALUES (0, 12, 0);
INSERT INTO MASTER_DETAIL VALUES (10, 20, 1);
INSERT INTO MASTER_DETAIL VALUES (10, 21, 2);
INSERT INTO MASTER_DETAIL VALUES (20, 30, 1);
)";

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

class ExportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(false);
        db_->RunIsql(kTree);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        form_ = std::make_unique<TForm1>();
        form_->FormShow();
        form_->AskExportBookFile = [this] {
            ++asked_;
            offeredScope_ = form_->ExportScope;
            offeredBranch_ = form_->ExportBranchOffered;
            if (choose_) form_->ExportScope = *choose_;
            return answer_;
        };
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    QTreeWidgetItem* Top(int i) { return form_->RootItem()->child(i); }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
    QTemporaryDir folder_;
    QString answer_;
    int asked_ = 0;
    TBookScope offeredScope_ = TBookScope::bsMarked;
    bool offeredBranch_ = false;
    std::optional<TBookScope> choose_;
};

TEST_F(ExportWindowTest, MarkedDocumentsInTreeOrderNestedByMarkedAncestors) {
    // Nothing marked: refused before the dialog, no file.
    EXPECT_THROW(form_->ExportBookActionExecute(), EProjError);
    EXPECT_EQ(asked_, 0);

    QTreeWidgetItem* beta = Top(1);
    form_->Nodes->expandItem(beta);
    QTreeWidgetItem* child20 = beta->child(0);
    form_->Nodes->expandItem(child20);
    ASSERT_EQ(child20->childCount(), 1);
    form_->SetState(child20->child(0), siMarked);  // 30: below Beta, not below a marked 20
    form_->SetState(Top(0), siMarked);             // 12
    form_->SetState(beta, siMarked);               // 10

    answer_ = folder_.filePath("marked.epub");
    form_->ExportBookActionExecute();
    const std::string nav = Shell("unzip -p '" + answer_.toStdString() + "' OEBPS/nav.xhtml");
    EXPECT_NE(nav.find(">Gamma</a></li>\n<li><a href=\"c0002.xhtml\">Beta</a>\n<ol>\n"
                       "<li><a href=\"c0003.xhtml\">Grandchild 30</a></li>\n</ol>"),
              std::string::npos)
        << nav;
    EXPECT_EQ(nav.find("Alpha"), std::string::npos);

    answer_ = folder_.filePath("marked.pdf");
    form_->ExportBookActionExecute();
    const std::string text = Shell("pdftotext '" + answer_.toStdString() + "' -");
    const std::size_t gamma = text.rfind("Gamma"), deep = text.rfind("deep");
    ASSERT_NE(gamma, std::string::npos) << text;
    EXPECT_LT(gamma, text.rfind("beta body"));
    EXPECT_LT(text.rfind("beta body"), deep);
    EXPECT_EQ(asked_, 2);
}

TEST(ExportBookDialogTest, ChosenTypeGivesTheSuffix) {
    QFileDialog dialog;
    SetupExportBookDialog(dialog);
    EXPECT_EQ(dialog.defaultSuffix(), "epub");
    dialog.selectNameFilter("PDF files (*.pdf)");
    emit dialog.filterSelected("PDF files (*.pdf)");
    EXPECT_EQ(dialog.defaultSuffix(), "pdf");
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
}

// The selected document's branch comes from the database, expanded in the tree or
// not; it is what a book holds when nothing is marked, and a choice when something is.
TEST_F(ExportWindowTest, SelectedBranchIsReadWhetherOrNotExpanded) {
    QTreeWidgetItem* beta = Top(1);
    ASSERT_FALSE(beta->isExpanded());
    form_->Nodes->setCurrentItem(beta);
    answer_ = folder_.filePath("branch.epub");
    form_->ExportBookActionExecute();
    EXPECT_TRUE(offeredBranch_);
    EXPECT_EQ(offeredScope_, TBookScope::bsBranch);
    std::string nav = Shell("unzip -p '" + answer_.toStdString() + "' OEBPS/nav.xhtml");
    const std::size_t b = nav.find(">Beta<"), c20 = nav.find(">Child 20<"),
                      g30 = nav.find(">Grandchild 30<"), c21 = nav.find(">Child 21<");
    ASSERT_NE(g30, std::string::npos) << nav;
    EXPECT_LT(b, c20);
    EXPECT_LT(c20, g30);
    EXPECT_LT(g30, c21);
    EXPECT_EQ(nav.find("Gamma"), std::string::npos);

    // Marked documents stay the default; the branch is there to be chosen.
    form_->SetState(Top(0), siMarked);  // Gamma
    form_->Nodes->setCurrentItem(beta);
    answer_ = folder_.filePath("marked.epub");
    form_->ExportBookActionExecute();
    EXPECT_EQ(offeredScope_, TBookScope::bsMarked);
    nav = Shell("unzip -p '" + answer_.toStdString() + "' OEBPS/nav.xhtml");
    EXPECT_NE(nav.find(">Gamma<"), std::string::npos) << nav;
    EXPECT_EQ(nav.find("Beta"), std::string::npos) << nav;

    choose_ = TBookScope::bsBranch;
    answer_ = folder_.filePath("chosen.epub");
    form_->ExportBookActionExecute();
    nav = Shell("unzip -p '" + answer_.toStdString() + "' OEBPS/nav.xhtml");
    EXPECT_NE(nav.find(">Grandchild 30<"), std::string::npos) << nav;
    EXPECT_EQ(nav.find("Gamma"), std::string::npos) << nav;
}

TEST(ExportBookDialogTest, BranchOfferedBesideTheMarkedDocuments) {
    QFileDialog dialog;
    TBookScope scope = TBookScope::bsMarked;
    SetupExportBookDialog(dialog, &scope, true, true);
    auto* choice = dialog.findChild<QComboBox*>("ExportScope");
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->count(), 2);
    EXPECT_EQ(choice->currentIndex(), 0);
    choice->setCurrentIndex(1);
    EXPECT_EQ(scope, TBookScope::bsBranch);

    QFileDialog plain;
    SetupExportBookDialog(plain, &scope, true, false);
    EXPECT_EQ(plain.findChild<QComboBox*>("ExportScope"), nullptr);
}

}  // namespace
