#include "dialogs/dg_NewGuide.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "text/QtText.h"

TNewGuideDlg::TNewGuideDlg(const std::vector<TGuideTypeChoice>& choices, QWidget* parent)
    : QDialog(parent), choices_(choices) {
    setObjectName("NewGuideDlg");
    setWindowTitle("New guide");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    layout->addLayout(form);

    Address = new QLineEdit(this);
    Address->setObjectName("Address");
    Address->setPlaceholderText("https://...");
    Address->setMinimumWidth(420);
    form->addRow("&Address:", Address);

    GuideType = new QComboBox(this);
    GuideType->setObjectName("GuideType");
    for (const TGuideTypeChoice& choice : choices_) {
        const QString type = BytesToQString(choice.GuideType);
        const QString text = choice.Description.empty()
                                 ? type
                                 : type + QString::fromUtf8(" \u2013 ") +
                                       BytesToQString(choice.Description);
        GuideType->addItem(text, type);
    }
    form->addRow("Guide &type:", GuideType);

    Description = new QLabel(this);
    Description->setObjectName("Description");
    Description->setWordWrap(true);
    Description->setTextFormat(Qt::PlainText);
    form->addRow("", Description);

    Title = new QLineEdit(this);
    Title->setObjectName("Title");
    Title->setPlaceholderText("the page's own title");
    form->addRow("T&itle:", Title);

    Message = new QLabel(this);
    Message->setObjectName("Message");
    Message->setWordWrap(true);
    Message->setTextFormat(Qt::PlainText);
    Message->setStyleSheet("color: #a00000;");
    Message->hide();
    layout->addWidget(Message);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->setObjectName("Buttons");
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &TNewGuideDlg::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &TNewGuideDlg::reject);
    connect(GuideType, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { ShowChoice(); });
    // An answer corrected after a refusal should not go on showing the old reason.
    connect(Address, &QLineEdit::textEdited, Message, &QWidget::hide);
    connect(Title, &QLineEdit::textEdited, Message, &QWidget::hide);
    ShowChoice();
    Address->setFocus();
}

void TNewGuideDlg::ShowChoice() {
    const int index = GuideType->currentIndex();
    if (index < 0 || index >= static_cast<int>(choices_.size())) {
        Description->setText("No page reader is installed.");
        return;
    }
    const TGuideTypeChoice& choice = choices_[static_cast<std::size_t>(index)];
    QString text = BytesToQString(choice.Description);
    if (!choice.Source.empty())
        text += (text.isEmpty() ? "" : "\n") + QString("Read by: ") + BytesToQString(choice.Source);
    Description->setText(text);
    Message->hide();
}

TNewGuideAnswer TNewGuideDlg::Answer() const {
    TNewGuideAnswer answer;
    const QByteArray url = Address->text().trimmed().toUtf8();
    answer.Url.assign(url.constData(), static_cast<std::size_t>(url.size()));
    const QByteArray type = GuideType->currentData().toString().toUtf8();
    answer.GuideType.assign(type.constData(), static_cast<std::size_t>(type.size()));
    const QByteArray title = Title->text().trimmed().toUtf8();
    answer.Title.assign(title.constData(), static_cast<std::size_t>(title.size()));
    return answer;
}

void TNewGuideDlg::accept() {
    std::string refused;
    if (GuideType->currentIndex() < 0) {
        refused = "Choose a guide type.";
    } else if (OnConfirm) {
        try {
            refused = OnConfirm(Answer());
        } catch (const std::exception& e) {
            refused = e.what();
        }
    }
    if (!refused.empty()) {
        Message->setText(BytesToQString(refused));
        Message->show();
        Address->setFocus();
        return;
    }
    QDialog::accept();
}
