#include "dialogs/dg_About.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <string>

#include "config/AuxProj.h"
#include "dialogs/DialogUtil.h"

namespace {

const int IconSize = 50;
const int DescriptionWidth = 260;

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    // Values come from the record as text; markup in them must not be interpreted.
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetIcon(const QIcon& icon) {
    icon_ = icon;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (icon_.isNull()) return;
    QPainter painter(this);
    icon_.paint(&painter, rect(), Qt::AlignCenter);
}

TAboutDlg::TAboutDlg(QWidget* parent) : QDialog(parent), versionSource_(ProgramVersionRecord) {
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("About"));

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);

    Icon = new TImage(Bevel1);
    Icon->setObjectName(QStringLiteral("Icon"));
    Icon->setFixedSize(IconSize, IconSize);

    ProductName = MakeLabel(Bevel1, "ProductName", "ProductName");
    Label1 = MakeLabel(Bevel1, "Label1", "version");
    FileVersion = MakeLabel(Bevel1, "FileVersion", "FileVersion");
    LegalCopyright = MakeLabel(Bevel1, "LegalCopyright", "LegalCopyright");
    HomePage = MakeLabel(Bevel1, "HomePage", "HomePage");
    HomePage->setCursor(Qt::PointingHandCursor);
    HomePage->installEventFilter(this);
    FileDescription = MakeLabel(Bevel1, "FileDescription", "FileDescription");
    FileDescription->setWordWrap(true);
    FileDescription->setFixedWidth(DescriptionWidth);
    // Room for two lines, so a description of any length up to that keeps the layout.
    FileDescription->setMinimumHeight(2 * FileDescription->fontMetrics().lineSpacing());
    FileDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* versionLine = new QHBoxLayout;
    versionLine->addWidget(Label1);
    versionLine->addWidget(FileVersion);
    versionLine->addStretch(1);

    auto* text = new QVBoxLayout;
    text->addWidget(ProductName);
    text->addLayout(versionLine);
    text->addWidget(LegalCopyright);
    text->addWidget(HomePage, 0, Qt::AlignLeft);
    text->addWidget(FileDescription);

    auto* inner = new QHBoxLayout(Bevel1);
    inner->addWidget(Icon, 0, Qt::AlignHCenter | Qt::AlignTop);
    inner->addSpacing(8);
    inner->addLayout(text, 1);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QVBoxLayout(this);
    top->addWidget(Bevel1);
    top->addWidget(OKBtn, 0, Qt::AlignHCenter);
    top->setSizeConstraint(QLayout::SetFixedSize);

    for (QLabel* label : findChildren<QLabel*>()) designed_.insert(label, label->text());
}

void TAboutDlg::FormShow() {
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    QFont underline = HomePage->font();
    underline.setUnderline(true);
    HomePage->setFont(underline);

    const QIcon appIcon = QApplication::windowIcon();
    Icon->SetIcon(appIcon.isNull() ? WayfolioIcon() : appIcon);

    // A value shown at an earlier showing must not survive a record that lacks it.
    const QList<QLabel*> labels = findChildren<QLabel*>();
    for (QLabel* label : labels) label->setText(designed_.value(label, label->text()));

    const TVersionRecord record = versionSource_ ? versionSource_() : TVersionRecord();
    if (record.IsEmpty() || record.Translations().empty()) return;
    const TVerTranslation translation = record.Translations().front();
    for (QLabel* label : labels) {
        std::string value;
        if (record.QueryValue(StringFileInfoQuery(translation, label->objectName().toStdString()),
                              value))
            label->setText(BytesToQString(value));
    }
}

void TAboutDlg::HomePageClick() {
    try {
        CheckShellExecute(ShellOpen(HomePage->text()));
    } catch (...) {
        ShowCurrentException(this);
    }
}

void TAboutDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
        // New captions change the fixed size. Take it on now, inside out (the frame's
        // layout first), so the dialog is centred and first painted at its final size.
        Bevel1->layout()->invalidate();
        Bevel1->layout()->activate();
        layout()->invalidate();
        layout()->activate();
    }
    QDialog::showEvent(event);
    if (!event->spontaneous()) CenterOnScreen(this);
}

bool TAboutDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == HomePage && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            HomePage->rect().contains(mouse->position().toPoint())) {
            HomePageClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void RunAboutDialog(QWidget* parent) {
    TOwnedDialog<TAboutDlg> dialog(new TAboutDlg(parent));
    dialog->exec();
}
