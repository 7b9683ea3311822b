// The about dialog: product name, version, legal notice, home page and description,
// read from the program's version record each time the dialog is shown.
#pragma once

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <functional>

#include "dialogs/VersionInfo.h"

class QFrame;
class QLabel;
class QPushButton;

// A picture box: draws an icon centred in its fixed area. Not a label, so the about
// dialog's look-up of label names never touches it.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    void SetIcon(const QIcon& icon);
    const QIcon& Icon() const { return icon_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
};

class TAboutDlg : public QDialog {
    Q_OBJECT
public:
    using TVersionSource = std::function<TVersionRecord()>;

    explicit TAboutDlg(QWidget* parent = nullptr);

    // Where FormShow reads the record; the program's own record unless replaced. The
    // source is asked again at every showing.
    void SetVersionSource(TVersionSource source) { versionSource_ = std::move(source); }

    // Fills the dialog when it is shown: bold added to ProductName's font and underline
    // to HomePage's, the application icon, and every label whose object name is a key
    // of the record's first translation shows that key's value. Labels without a value
    // show their designed captions.
    void FormShow();
    // Opens HomePage's text with the desktop. A failure is reported in a message box
    // here, as the program's general error handler would, so the dialog stays open.
    void HomePageClick();

    QFrame* Bevel1;
    TImage* Icon;
    QLabel* ProductName;
    QLabel* Label1;
    QLabel* FileVersion;
    QLabel* LegalCopyright;
    QLabel* HomePage;
    QLabel* FileDescription;
    QPushButton* OKBtn;

    // Escape and the window's close button answer OK too: there is nothing to cancel.
    void reject() override { accept(); }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TVersionSource versionSource_;
    QHash<QLabel*, QString> designed_;  // captions as designed, restored at every showing
};

// The whole "About..." command: creates the dialog, shows it modally, frees it.
void RunAboutDialog(QWidget* parent);
