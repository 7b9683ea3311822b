#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <map>
#include <string>

#include "tests/support/ModalDriver.h"
#include "config/AuxProj.h"
#include "dialogs/DialogUtil.h"
#include "dialogs/VersionInfo.h"
#include "dialogs/dg_About.h"

namespace {

// Receives what the desktop would open for a URL scheme.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

const char* const Keys[] = {"CompanyName",
                            "FileDescription",
                            "FileVersion",
                            "InternalName",
                            "LegalCopyright",
                            "LegalTrademarks",
                            "OriginalFilename",
                            "ProductName",
                            "ProductVersion",
                            "HomePage",
                            "Email"};

TVersionRecord Record(TVerTranslation translation,
                      std::initializer_list<std::pair<const char*, const char*>> values) {
    TVersionRecord record;
    record.AddTranslation(translation);
    for (const auto& v : values) record.SetString(translation, v.first, v.second);
    return record;
}

QStringList Captions(const TAboutDlg& dlg) {
    return {dlg.ProductName->text(),    dlg.Label1->text(),   dlg.FileVersion->text(),
            dlg.LegalCopyright->text(), dlg.HomePage->text(), dlg.FileDescription->text()};
}

const QStringList Designed = {"ProductName",    "version",  "FileVersion",
                              "LegalCopyright", "HomePage", "FileDescription"};

TEST(VersionRecordTest, ProgramRecordCarriesEveryKeyWithTheBuildVersion) {
    const TVersionRecord record = ProgramVersionRecord();
    ASSERT_EQ(record.Translations().size(), 1u);
    std::map<std::string, std::string> values;
    for (const char* key : Keys)
        EXPECT_TRUE(
            record.QueryValue(StringFileInfoQuery(record.Translations()[0], key), values[key]))
            << key;
    EXPECT_EQ(values["FileVersion"], WF_PROJECT_VERSION);
    EXPECT_EQ(values["ProductName"], "Wayfolio");
    EXPECT_FALSE(QUrl(QString::fromStdString(values["HomePage"])).isRelative());
}

TEST(VersionRecordTest, QueriesLikeTheWindowsResource) {
    const TVersionRecord record =
        Record({0x0C0A, 0x04B0}, {{"ProductName", "Caminos"}, {"Email", ""}});
    EXPECT_EQ(StringFileInfoQuery({0x0C0A, 0x04B0}, "X"), "\\StringFileInfo\\0C0A04B0\\X");
    std::string value;
    EXPECT_TRUE(record.QueryValue("\\stringfileinfo\\0c0a04b0\\PRODUCTNAME", value));
    EXPECT_EQ(value, "Caminos");
    EXPECT_TRUE(record.QueryValue("\\StringFileInfo\\0C0A04B0\\Email", value));
    EXPECT_EQ(value, "") << "an empty value is still a value";

    value = "unchanged";
    for (const char* query :
         {"\\StringFileInfo\\0C0A04B0\\Missing", "\\StringFileInfo\\0C0A04E4\\ProductName",
          "\\StringFileInfo\\0C0A04B0\\", "\\StringFileInfo\\0C0A04BZ\\ProductName", ""})
        EXPECT_FALSE(record.QueryValue(query, value)) << query;
    EXPECT_EQ(value, "unchanged");
}

class AboutDialogTest : public testing::Test {
protected:
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    TUrlCatcher catcher_;
};

TEST_F(AboutDialogTest, DesignAndTheProgramsOwnRecord) {
    TAboutDlg dlg;
    EXPECT_EQ(Captions(dlg), Designed);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "About");
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(dlg.ProductName->text(), "Wayfolio");
    EXPECT_EQ(dlg.FileVersion->text(), WF_PROJECT_VERSION);
    EXPECT_EQ(dlg.Label1->text(), "version");
    EXPECT_EQ(dlg.FileDescription->text(),
              "Software for gathering online web travel data to database");
    // The description wraps inside its fixed width instead of widening the dialog.
    EXPECT_EQ(dlg.FileDescription->width(), dlg.FileDescription->minimumWidth());
    EXPECT_GE(dlg.FileDescription->height(), 2 * dlg.FileDescription->fontMetrics().lineSpacing());
    // The dialog takes its size from the new captions before it is first painted.
    for (QLabel* label : {dlg.ProductName, dlg.LegalCopyright, dlg.HomePage})
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    EXPECT_FALSE(dlg.Icon->Icon().isNull());
    EXPECT_EQ(dlg.Icon->size(), QSize(50, 50));
    EXPECT_EQ(dlg.HomePage->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(dlg.OKBtn->isDefault());
    EXPECT_FALSE(WayfolioIcon().pixmap(32, 32).isNull()) << "the icon resource is linked in";
}

TEST_F(AboutDialogTest, LabelsShowTheRecordsValuesOrKeepTheirCaptions) {
    TAboutDlg dlg;
    // Values under the first translation, whatever it is; other tables are not read.
    TVersionRecord full = Record({0x0407, 0x04B0}, {{"ProductName", "Wegweiser"},
                                                    {"FileVersion", "2.5"},
                                                    {"LegalCopyright", "(C) <b>Wir</b>"},
                                                    {"HomePage", "https://wegweiser.test/"},
                                                    {"FileDescription", "Reisen"},
                                                    {"Label1", "VERSION"}});
    full.SetString(ProgramTranslation, "ProductName", "Pathfinder");
    TVersionRecord partial = Record(ProgramTranslation, {{"FileVersion", "9.9"}});
    TVersionRecord noTranslation;
    noTranslation.SetString(ProgramTranslation, "ProductName", "Orphan");

    int reads = 0;
    TVersionRecord current;
    dlg.SetVersionSource([&] {
        ++reads;
        return current;
    });

    current = full;
    dlg.show();
    EXPECT_EQ(Captions(dlg), QStringList({"Wegweiser", "VERSION", "2.5", "(C) <b>Wir</b>",
                                          "https://wegweiser.test/", "Reisen"}));
    EXPECT_EQ(dlg.LegalCopyright->textFormat(), Qt::PlainText);

    // Every showing reads the record again and carries nothing over.
    const std::pair<TVersionRecord*, QStringList> cases[] = {
        {&partial,
         {"ProductName", "version", "9.9", "LegalCopyright", "HomePage", "FileDescription"}},
        {&noTranslation, Designed},
        {nullptr, Designed}};
    for (const auto& [record, expected] : cases) {
        dlg.hide();
        current = record ? *record : TVersionRecord();
        dlg.show();
        EXPECT_EQ(Captions(dlg), expected);
    }
    EXPECT_EQ(reads, 4);
}

TEST_F(AboutDialogTest, BoldAndUnderlineAreAddedToTheDesignedFonts) {
    TAboutDlg dlg;
    for (QLabel* label : {dlg.ProductName, dlg.HomePage}) {
        QFont f = label->font();
        f.setItalic(true);
        f.setPointSize(13);
        label->setFont(f);
    }
    dlg.show();
    dlg.hide();
    dlg.show();
    const QFont product = dlg.ProductName->font(), home = dlg.HomePage->font();
    EXPECT_TRUE(product.bold());
    EXPECT_TRUE(product.italic());
    EXPECT_FALSE(product.underline());
    EXPECT_EQ(product.pointSize(), 13);
    EXPECT_TRUE(home.underline());
    EXPECT_TRUE(home.italic());
    EXPECT_FALSE(home.bold());
    EXPECT_EQ(home.pointSize(), 13);
    EXPECT_FALSE(dlg.FileVersion->font().bold());
}

TEST_F(AboutDialogTest, HomePageClickOpensTheAddressOrReportsTheShellError) {
    TUrlCatcher& catcher = catcher_;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");

    TAboutDlg dlg;
    TVersionRecord record = Record(ProgramTranslation, {{"HomePage", "https://wegweiser.test/a"}});
    dlg.SetVersionSource([&] { return record; });
    dlg.show();
    auto noMessage = WhenModal<QMessageBox>([](QMessageBox* box) { box->reject(); });
    QTest::mouseClick(dlg.HomePage, Qt::RightButton);
    QTest::mouseClick(dlg.HomePage, Qt::LeftButton);
    EXPECT_EQ(catcher.opened, QList<QUrl>({QUrl("https://wegweiser.test/a")}));
    EXPECT_FALSE(noMessage->Ran());
    noMessage.reset();

    // Without a value the label's caption is no address at all; an address no
    // application takes fails too. Either way the user sees why and the dialog stays.
    const std::pair<TVersionRecord, QString> failures[] = {
        {TVersionRecord(), "ShellExecute error: 2"},
        {Record(ProgramTranslation, {{"HomePage", "wf-nobody-handles:x"}}),
         "ShellExecute error: 31"}};
    for (const auto& [failing, message] : failures) {
        dlg.hide();
        record = failing;
        dlg.show();
        QString shown;
        auto box = WhenModal<QMessageBox>([&](QMessageBox* b) {
            shown = b->text();
            b->accept();
        });
        QTest::mouseClick(dlg.HomePage, Qt::LeftButton);
        EXPECT_TRUE(box->Ran());
        EXPECT_EQ(shown.section('\n', 0, 0), message);  // then what it means
        EXPECT_GT(shown.section('\n', 1).size(), 10);
        EXPECT_TRUE(dlg.isVisible());
    }
    EXPECT_EQ(catcher.opened.size(), 1);
}

TEST_F(AboutDialogTest, EscapeClosesWithOkAndTheCommandFreesTheDialog) {
    QWidget parent;
    QString product;
    auto step = WhenModal<TAboutDlg>([&](TAboutDlg* dlg) {
        product = dlg->ProductName->text();
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    RunAboutDialog(&parent);
    EXPECT_TRUE(step->Ran());
    EXPECT_EQ(product, "Wayfolio");
    EXPECT_EQ(parent.findChild<TAboutDlg*>(), nullptr);

    TAboutDlg dlg;
    auto escape = WhenModal<TAboutDlg>([](TAboutDlg* d) { QTest::keyClick(d, Qt::Key_Escape); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
}

}  // namespace

#include "AboutDialogTest.moc"
