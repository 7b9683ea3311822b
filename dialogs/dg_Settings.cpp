#include "dialogs/dg_Settings.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <exception>

#include "config/AuxProj.h"
#include "dialogs/DialogUtil.h"

namespace {

const char* const Section = "Interbase";

QLineEdit* MakeEdit(QWidget* parent, const char* name, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumWidth(width);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, QLineEdit* buddy) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

TSettingsDialog::TSettingsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(QStringLiteral("Settings"));

    GroupBox1 = new QGroupBox(QStringLiteral("Database settings"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Database = MakeEdit(GroupBox1, "Database", 320);
    UserName = MakeEdit(GroupBox1, "UserName", 150);
    Password = MakeEdit(GroupBox1, "Password", 150);
    Password->setEchoMode(QLineEdit::Password);
    // Styles draw their own bullet for hidden text; the dialog has always shown "*".
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    SQLDialect = MakeEdit(GroupBox1, "SQLDialect", 60);
    CharSet = MakeEdit(GroupBox1, "CharSet", 150);

    auto* group = new QGridLayout(GroupBox1);
    group->addWidget(MakeLabel(GroupBox1, "Database file name", Database), 0, 0, 1, 2);
    group->addWidget(Database, 1, 0, 1, 2);
    group->addWidget(MakeLabel(GroupBox1, "User name", UserName), 2, 0);
    group->addWidget(MakeLabel(GroupBox1, "Password", Password), 2, 1);
    group->addWidget(UserName, 3, 0);
    group->addWidget(Password, 3, 1);
    group->addWidget(MakeLabel(GroupBox1, "SQL dial.", SQLDialect), 4, 0);
    group->addWidget(MakeLabel(GroupBox1, "Def.char set", CharSet), 4, 1);
    group->addWidget(SQLDialect, 5, 0, Qt::AlignLeft);
    group->addWidget(CharSet, 5, 1);

    LogFile = MakeEdit(this, "LogFile", 200);
    MaxLines = MakeEdit(this, "MaxLines", 80);
    auto* side = new QVBoxLayout;
    side->addWidget(MakeLabel(this, "Log file", LogFile));
    side->addWidget(LogFile);
    side->addSpacing(8);
    side->addWidget(MakeLabel(this, "Max lines in log", MaxLines));
    side->addWidget(MaxLines, 0, Qt::AlignLeft);
    side->addStretch(1);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    // Escape already rejects a QDialog, which is what Cancel does.
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* top = new QGridLayout(this);
    top->addWidget(GroupBox1, 0, 0);
    top->addLayout(side, 0, 1);
    top->addLayout(buttons, 1, 0, 1, 2);
    top->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(Database, UserName);
    setTabOrder(UserName, Password);
    setTabOrder(Password, SQLDialect);
    setTabOrder(SQLDialect, CharSet);
    setTabOrder(CharSet, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, LogFile);
    setTabOrder(LogFile, MaxLines);

    fields_[0] = {Database, "DatabaseName", "", {}, {}};
    fields_[1] = {UserName, "User", "", {}, {}};
    fields_[2] = {Password, "Password", "", {}, {}};
    fields_[3] = {CharSet, "CharSet", "NONE", {}, {}};
    fields_[4] = {SQLDialect, "SQLDialect", "", {}, {}};
    fields_[5] = {MaxLines, "MaxLines", "", {}, {}};
    fields_[6] = {LogFile, "LogFile", "", {}, {}};
}

void TSettingsDialog::SetField(TField& field, const std::string& value) {
    field.loaded = value;
    field.shown = BytesToQString(value);
    field.edit->setText(field.shown);
}

std::string TSettingsDialog::FieldValue(const TField& field) const {
    const QString text = field.edit->text();
    // Text that could not be shown as UTF-8 was shown as Latin-1; re-encoding it as
    // UTF-8 would change the stored bytes although the user changed nothing.
    if (text == field.shown) return field.loaded;
    return text.toUtf8().toStdString();
}

void TSettingsDialog::LoadFromIni() {
    for (auto& field : fields_) SetField(field, GetIniText(Section, field.key, field.def));
}

void TSettingsDialog::StoreToIni() const {
    for (const auto& field : fields_) {
        const std::string value = FieldValue(field);
        // A field left empty for a key the file does not hold stays out of the file, so
        // that the key keeps its default (an empty database name would open nothing).
        if (value.empty() && !(ProjIni && ProjIni->HasKey(Section, field.key))) continue;
        PutIniText(Section, field.key, value);
    }
}

void TSettingsDialog::ShowValuesInUse(
    const std::vector<std::pair<std::string, std::string>>& inUse) {
    for (const auto& [key, value] : inUse)
        for (auto& field : fields_)
            if (SameText(field.key, key) && !(ProjIni && ProjIni->HasKey(Section, key)))
                field.edit->setPlaceholderText(BytesToQString(value));
}

void TSettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) CenterOnScreen(this);
}

bool RunSettingsDialog(QWidget* parent,
                       const std::vector<std::pair<std::string, std::string>>& inUse) {
    TOwnedDialog<TSettingsDialog> dialog(new TSettingsDialog(parent));
    dialog->LoadFromIni();
    dialog->ShowValuesInUse(inUse);
    if (dialog->exec() != QDialog::Accepted || !dialog) return false;
    dialog->StoreToIni();
    try {
        SaveIni();
    } catch (const std::exception&) {
        // An unwritable file (read-only folder, no file name) must not stop the new
        // settings from taking effect; they hold in memory for this run.
    }
    return true;
}
