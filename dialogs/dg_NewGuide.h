// The "New guide" dialog: the address of a guide's first page, the guide type whose
// reader reads it and an optional title. It only asks; whoever runs it checks the
// answer and stores the guide, and the dialog stays open with the reason when that
// is refused, so the user can correct the answer rather than type it again.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// A guide type the user can choose, with what the user needs to choose it.
struct TGuideTypeChoice {
    std::string GuideType;
    std::string Description;
    std::string Source;  // the reader file serving it, or "built in"
};

// What the user asked for, as typed (UTF-8, trimmed).
struct TNewGuideAnswer {
    std::string Url;
    std::string GuideType;
    std::string Title;  // empty: the page's own title
};

class TNewGuideDlg : public QDialog {
    Q_OBJECT
public:
    explicit TNewGuideDlg(const std::vector<TGuideTypeChoice>& choices, QWidget* parent = nullptr);

    // Called when the user confirms. Returns an empty text to close the dialog, or the
    // reason the answer was refused, which the dialog shows while it stays open. An
    // exception it throws is shown the same way. Unset: every answer is accepted.
    std::function<std::string(const TNewGuideAnswer&)> OnConfirm;

    TNewGuideAnswer Answer() const;

    // Shown with the dialog's object names, so that tests and code find them by name.
    QLineEdit* Address;
    QComboBox* GuideType;    // item data: the guide type itself
    QLabel* Description;     // what the chosen guide type reads, and which file serves it
    QLineEdit* Title;
    QLabel* Message;         // why the last answer was refused; hidden otherwise
    QDialogButtonBox* Buttons;

    void accept() override;

private:
    void ShowChoice();
    std::vector<TGuideTypeChoice> choices_;
};
