// The settings dialog: the database and log settings of section "Interbase" of the
// configuration file, edited as plain text.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsDialog(QWidget* parent = nullptr);

    // Fills the fields from the configuration store: what the file holds, not the
    // defaults the connection would use, so an absent key shows as an empty field
    // ("CharSet" shows "NONE").
    void LoadFromIni();
    // Writes every field into the store exactly as typed, in a fixed key order; an
    // empty field is written only over a key the file holds (an absent key keeps its
    // default). A field left as loaded writes back the very bytes it was
    // loaded from, even when they were not UTF-8.
    void StoreToIni() const;
    // Shows, as grey placeholder text in an empty field, the value the program uses for
    // a key the file does not hold (key, value pairs), so that a field left to its
    // default does not look unset. Saving still leaves such a field empty.
    void ShowValuesInUse(const std::vector<std::pair<std::string, std::string>>& inUse);

    // The fields and buttons keep these object names; code and tests find them by name.
    QGroupBox* GroupBox1;
    QLineEdit* Database;
    QLineEdit* UserName;
    QLineEdit* Password;
    QLineEdit* SQLDialect;
    QLineEdit* CharSet;
    QLineEdit* LogFile;
    QLineEdit* MaxLines;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TField {
        QLineEdit* edit;
        const char* key;
        const char* def;
        std::string loaded;  // the stored bytes the field was filled from
        QString shown;       // and the text they were shown as
    };
    void SetField(TField& field, const std::string& value);
    std::string FieldValue(const TField& field) const;

    // Keys in the order they are read and written.
    TField fields_[7];
};

// The whole "Settings..." command up to the point where the window takes over: creates
// the dialog, fills it from the configuration store, shows it modally and, when the
// user confirms, stores the fields and saves the file. A file that cannot be written is
// ignored without a message: the new values hold in memory for this run. The dialog is
// freed before returning, on every path. Returns whether the user pressed OK; the
// caller then closes the connection, clears the tree below its root and shows the
// window again so that the new settings take effect.
bool RunSettingsDialog(QWidget* parent,
                       const std::vector<std::pair<std::string, std::string>>& inUse = {});
