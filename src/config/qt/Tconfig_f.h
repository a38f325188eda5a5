#pragma once

#include <QDialog>
#include <exception>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ostrel {

class IniFile;
class Settings;
struct SettingsValues;
class UpDown;

// The configuration dialog `config_f`. Its fields are the live settings: every edit is in
// effect at once, saved or not. Created with the main window, only shown and hidden after.
class Tconfig_f : public QDialog {
    Q_OBJECT
public:
    static constexpr int MinimumClientWidth = 506;
    static constexpr int MinimumClientHeight = 656;

    // What the dialog needs of the main window.
    struct Hooks {
        // The configuration load; a conversion error raises out of it.
        std::function<void()> load;
        // The general error report.
        std::function<void(const std::exception_ptr&)> reportError;
    };

    Tconfig_f(Settings& settings, IniFile& ini, Hooks hooks, QWidget* parent = nullptr);

    // Shows the fields as the live settings hold them (after a load changed them).
    void refreshFromSettings();
    // Shows the dialog without waiting, at the centre of the main window, in front.
    void showNonModal();
    // Shows the dialog at the centre of the main window and waits until it is closed.
    void showModal();

    // Save: checks every number field against its range, writes every setting in one rewrite,
    // runs the load again and hides the dialog. A refused value (named with its field and range),
    // a file that cannot be written or an error of the load is shown and leaves it open.
    void Button1Click();

    // Group "MySQL Database connection"
    QLineEdit* ConfServer;
    QLineEdit* ConfServerPort;
    QLineEdit* ConfServerDatabase;
    QLineEdit* ConfServerUser;
    QLineEdit* ConfServerPass;
    // Group "Optional - if multiple servers use a single database"
    QLineEdit* tbl_prefix;
    QLineEdit* tbl_history_prefix;
    QPlainTextEdit* Memo1;
    // Group "How to handle Bad  IP's"
    QLineEdit* BlockInvalidUserCount;
    UpDown* UpDown3;
    QLineEdit* Blocktime;
    UpDown* BlocktimeUpdown;
    QLineEdit* BlocktimeHoneypot;
    UpDown* BlocktimeHoneypotUpDown;
    QCheckBox* BlockInvalidUser;
    QCheckBox* Report;
    QLineEdit* AbuseReportRDPURL;
    QLineEdit* AbuseKEY;
    // Addresses and ranges that are never blocked (setting `AllowList`).
    QLineEdit* AllowList;
    // Where failed logons are read (setting `EventSource`): a listed choice or one typed.
    QComboBox* EventSource;
    // The pass interval, out of sight left of the dialog but in the tab order.
    QLineEdit* Time;
    UpDown* UpDown1;
    QPushButton* Button1;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildConnectionGroup();
    QWidget* buildPrefixGroup();
    QWidget* buildBlockingGroup();
    QWidget* spinField(QLineEdit*& field, UpDown*& upDown, const char* fieldName, const char* upDownName,
                       std::string SettingsValues::*setting, int minimum, int maximum, int position);
    QLineEdit* textField(const char* name, std::string SettingsValues::*setting, QWidget* parent = nullptr);
    QCheckBox* checkField(const char* name, const QString& caption, bool SettingsValues::*setting);
    void placeTime();
    // The message for the first number field whose text is no value of its range (the field
    // then has the focus); empty when every one is valid.
    std::string refusedValue();
    void FormResize();
    void centreOverParent();

    struct TextBinding {
        QLineEdit* field;
        std::string SettingsValues::*setting;
    };
    struct CheckBinding {
        QCheckBox* field;
        bool SettingsValues::*setting;
    };

    Settings& m_settings;
    IniFile& m_ini;
    Hooks m_hooks;
    std::vector<TextBinding> m_texts;
    std::vector<CheckBinding> m_checks;
};

} // namespace ostrel
