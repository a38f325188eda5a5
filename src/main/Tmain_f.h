#pragma once

#include "guard/GuardParts.h"
#include "guard/GuardTimer.h"
#include "honeypot/Pit.h"

#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ostrel {

class ConfigurationLoad;
class IniFile;
class Operator;
class Tconfig_f;
class UpDown;
class PassWorker;
class WindowOperator;
namespace platform {
class SourceWatch;
}
class WindowPlacement;

// The operator window `main_f`. It owns the long-lived parts of the guard (GuardParts) and the
// configuration dialog, and its handlers start everything the operator does.
class Tmain_f : public QMainWindow, private PassProgress {
    Q_OBJECT
public:
    static constexpr int MinimumClientWidth = 565;
    static constexpr int MinimumClientHeight = 580;
    static constexpr int LaidOutClientWidth = 747;
    static constexpr int LaidOutClientHeight = 593;

    using FirewallFactory = GuardParts::FirewallFactory;

    // Where the window finds what the program works with.
    struct Setup {
        std::filesystem::path configFile;         // Config.ini
        std::filesystem::path eventChannelFolder; // the event channel's folder, also the registry probe's
        FirewallFactory makeFirewall;             // the firewall command, made with the window's Operator
        Pit::AddressSource adapterAddress;        // the adapter address for the honeypot
    };

    explicit Tmain_f(const Setup& setup, QWidget* parent = nullptr);
    ~Tmain_f() override;

    // Handlers, named after their control and event.
    void FormShow();
    void BTN_TimerClick();
    void Button1Click();
    void TimerTimer();
    void btn_honeypotClick();
    void Kick();
    void BTN_ClearLogClick();
    void Button3Click();
    void Konfiguration1Click();
    void Beenden1Click();
    void FormResize();

    // The configuration load with the dialog's fields shown afresh, also when it fails.
    void OstrelKonfigurieren();
    bool ConfigError() const;

    // Whether a guard pass runs (on its own thread) and the window has not yet taken its end.
    bool passRunning() const { return m_passRunning; }

    Settings& settings() { return m_parts->settings; }
    IniFile& ini() { return *m_parts->ini; }
    Operator& op();
    GuardTimer& guard() { return *m_parts->guard; }
    Pit& pit() { return *m_parts->pit; }
    ConfigurationLoad& load() { return *m_parts->load; }
    Tconfig_f& config_f() { return *m_config_f; }

    // Controls, in tab order.
    QPushButton* BTN_Timer;
    QPlainTextEdit* Log;
    QCheckBox* Debug;
    QCheckBox* DetailLog;
    QProgressBar* PG;
    QPushButton* Button1;
    QPushButton* BTN_ClearLog;
    QListWidget* tarpit;
    QPushButton* btn_honeypot;
    QLineEdit* TarpitPort;
    UpDown* TarpitPortNumber;
    QPushButton* Button2;
    QPlainTextEdit* Clearlog;
    QPushButton* Button3;
    QAction* Konfiguration1;
    QAction* Beenden1;
    QTimer* Timer;

protected:
    // The plain message box (title, text, one OK).
    virtual void showMessage(const QString& text);
    // The general error report (title, text, error icon, one OK).
    virtual void showErrorReport(const QString& text);
    // The configuration dialog, shown and waited for.
    virtual void showConfigModal();

    void setVisible(bool visible) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // PassProgress: the bar `PG`, minimum 0, step 10.
    void setMaximum(int maximum) override;
    void stepIt() override;
    void reset() override;

    void createControls();
    void createMenu();
    void firstShown(const std::exception_ptr& restoreError);
    void savePlacement();
    void reportError(const std::exception_ptr& error);
    void reportErrorAfterTick(const std::exception_ptr& error);
    void showReportsAfterTick();
    // Watches the event source chosen now, so that new records start a pass at once.
    void followEventSource();
    // On the window's thread: a pass as a tick would run it, while the timer runs.
    void watchedRecordsArrived();
    template <typename Work> void reportErrors(Work&& work);
    // One tick of the pass's counter; a pass that comes due runs on the pass's own thread.
    void tickPass(bool single);
    void passEnded(bool single, const std::exception_ptr& error);

    std::unique_ptr<WindowOperator> m_operator;
    std::unique_ptr<GuardParts> m_parts;          // after the operator they log to, before what uses them
    std::unique_ptr<WindowPlacement> m_placement; // `JvFormStorage1`
    std::unique_ptr<Tconfig_f> m_config_f;
    std::unique_ptr<PassWorker> m_passWorker; // ends (awaiting its pass) before the parts it uses
    bool m_passRunning = false;
    bool m_passWaitTold = false;    // the line that a pass still runs, once per pass
    std::unique_ptr<platform::SourceWatch> m_watch;
    // A pass the watch asked for waits in the event queue: further changes add none, so a
    // burst of lines makes at most one pass wait behind the one running.
    std::atomic<bool> m_watchPassQueued{false};
    bool m_watchPassAfterThis = false; // records arrived while a pass ran
    QStringList m_reportsAfterTick; // waiting or open, in order; the first is the one open
    int m_pgPosition = 0;
    bool m_shownOnce = false;
    bool m_placementSaved = false;
};

} // namespace ostrel
