#include "main/Tmain_f.h"

#include "blocking/AbuseReport.h"
#include "blocking/OperationContext.h"
#include "common/ErrorReport.h"
#include "config/ConfigurationLoad.h"
#include "config/IniFile.h"
#include "config/qt/Tconfig_f.h"
#include "config/qt/WindowPlacement.h"
#include "guard/GuardStartUp.h"
#include "main/PassWorker.h"
#include "main/WindowOperator.h"
#include "platform/EventSource.h"
#include "widgets/UpDown.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <utility>

namespace ostrel {

namespace {

constexpr int ProgressStep = 10;

// Runs a clean-up when the scope ends, also when an error leaves it.
template <typename Cleanup> class Finally {
public:
    explicit Finally(Cleanup cleanup) : m_cleanup(std::move(cleanup)) {}
    ~Finally() { m_cleanup(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    Cleanup m_cleanup;
};

} // namespace

Tmain_f::Tmain_f(const Setup& setup, QWidget* parent) : QMainWindow(parent) {
    createControls();
    createMenu();

    m_operator = std::make_unique<WindowOperator>(*this, *Log, *Clearlog, *tarpit);
    m_parts = std::make_unique<GuardParts>(GuardParts::Wiring{setup.configFile, setup.eventChannelFolder, nullptr,
                                                              std::nullopt, setup.makeFirewall, setup.adapterAddress,
                                                              [this] {
                                                                  m_config_f->refreshFromSettings();
                                                                  m_config_f->showNonModal();
                                                              }},
                                           *m_operator, static_cast<PassProgress&>(*this));
    m_placement = std::make_unique<WindowPlacement>(*this, *m_parts->ini);
    m_passWorker = std::make_unique<PassWorker>();

    connect(Debug, &QCheckBox::toggled, this, [this](bool on) { m_operator->setDebug(on); });
    connect(DetailLog, &QCheckBox::toggled, this, [this](bool on) { m_operator->setDetailLog(on); });
    connect(BTN_Timer, &QPushButton::clicked, this, &Tmain_f::BTN_TimerClick);
    connect(Button1, &QPushButton::clicked, this, &Tmain_f::Button1Click);
    connect(Timer, &QTimer::timeout, this, &Tmain_f::TimerTimer);
    connect(btn_honeypot, &QPushButton::clicked, this, &Tmain_f::btn_honeypotClick);
    connect(Button2, &QPushButton::clicked, this, &Tmain_f::Kick);
    connect(BTN_ClearLog, &QPushButton::clicked, this, &Tmain_f::BTN_ClearLogClick);
    connect(Button3, &QPushButton::clicked, this, &Tmain_f::Button3Click);
    connect(Konfiguration1, &QAction::triggered, this, &Tmain_f::Konfiguration1Click);
    connect(Beenden1, &QAction::triggered, this, &Tmain_f::Beenden1Click);

    // The dialog comes last: creating the window uses nothing of it.
    m_config_f =
        std::make_unique<Tconfig_f>(m_parts->settings, *m_parts->ini,
                                    Tconfig_f::Hooks{[this] { OstrelKonfigurieren(); },
                                                     [this](const std::exception_ptr& error) { reportError(error); }},
                                    this);
}

Tmain_f::~Tmain_f() {
    savePlacement();
    m_watch.reset(); // its thread posts to this window
    Timer->stop();
    // A running pass ends first: it uses the parts.
    m_passWorker.reset();
    // The honeypot's threads post to this window: they end before anything they use goes.
    m_parts->end();
    m_config_f.reset();
}

Operator& Tmain_f::op() {
    return *m_operator;
}

bool Tmain_f::ConfigError() const {
    return m_parts->load->ConfigError();
}

void Tmain_f::reportError(const std::exception_ptr& error) {
    showErrorReport(QString::fromStdString(errorReportText(error)));
}

template <typename Work> void Tmain_f::reportErrors(Work&& work) {
    try {
        work();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void Tmain_f::showMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void Tmain_f::showErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void Tmain_f::showConfigModal() {
    m_config_f->showModal();
}

// ---- Start and end ------------------------------------------------------------------

void Tmain_f::setVisible(bool visible) {
    const bool first = visible && !m_shownOnce;
    std::exception_ptr restoreError;
    if (first) {
        m_shownOnce = true;
        // Before the window system shows the window, so it appears where it was.
        try {
            m_placement->restore();
        } catch (...) {
            restoreError = std::current_exception();
        }
    }
    QMainWindow::setVisible(visible);
    if (first)
        QTimer::singleShot(0, this, [this, restoreError] { firstShown(restoreError); });
}

void Tmain_f::firstShown(const std::exception_ptr& restoreError) {
    if (restoreError)
        reportError(restoreError);
    FormShow();
}

void Tmain_f::FormShow() {
    Finally refresh([this] { m_config_f->refreshFromSettings(); });
    reportErrors([this] { startUpGuard(*m_parts->load, *m_parts->context, *m_parts->eventSource); });
    followEventSource();
}

void Tmain_f::OstrelKonfigurieren() {
    Finally refresh([this] { m_config_f->refreshFromSettings(); });
    Finally follow([this] { followEventSource(); }); // a Save may have chosen another source
    m_parts->load->OstrelKonfigurieren();
}

void Tmain_f::followEventSource() {
    m_watch.reset();
    try {
        m_watch = m_parts->eventSource->watch([this] {
            if (!m_watchPassQueued.exchange(true))
                QMetaObject::invokeMethod(this, &Tmain_f::watchedRecordsArrived, Qt::QueuedConnection);
        });
    } catch (const std::exception& error) {
        // The timer still finds every record; the line says why they come later.
        logLine(*m_operator, std::string(" - New records are found at the timer's passes only: ") + error.what());
    }
}

void Tmain_f::watchedRecordsArrived() {
    m_watchPassQueued = false;
    if (!Timer->isActive())
        return;
    if (m_passRunning) {
        // The running pass may have read before these records came: one more follows it.
        m_watchPassAfterThis = true;
        return;
    }
    try {
        m_parts->guard->passNow();
        tickPass(false);
    } catch (...) {
        reportErrorAfterTick(std::current_exception());
    }
}

void Tmain_f::savePlacement() {
    if (m_placementSaved || !m_shownOnce)
        return;
    m_placementSaved = true;
    try {
        m_placement->save();
    } catch (...) {
        // The window is going; there is nobody left to tell.
    }
}

void Tmain_f::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    savePlacement();
    // The dialog goes with the window, so the event loop ends with it.
    m_config_f->hide();
}

void Tmain_f::Beenden1Click() {
    close();
}

// ---- Guard timer and single pass ----------------------------------------------------

void Tmain_f::BTN_TimerClick() {
    if (ConfigError()) {
        showMessage("Error in Config!");
        showConfigModal();
        return;
    }
    reportErrors([this] {
        if (Timer->isActive()) {
            Timer->stop();
            BTN_Timer->setText("Start Timer");
            return;
        }
        Timer->setInterval(1000);
        m_parts->guard->timerStarted();
        BTN_Timer->setText("Stop Timer");
        Timer->start();
    });
}

void Tmain_f::Button1Click() {
    if (ConfigError()) {
        showMessage("Incorrect configuration!");
        showConfigModal();
        return;
    }
    reportErrors([this] {
        if (!m_passRunning)
            m_parts->guard->passNow();
        tickPass(true);
    });
}

void Tmain_f::TimerTimer() {
    try {
        tickPass(false);
    } catch (...) {
        reportErrorAfterTick(std::current_exception());
    }
}

void Tmain_f::tickPass(bool single) {
    if (m_passRunning) {
        // The pass waits for the database or the firewall: ticks pause until it ends, and the
        // operator learns why nothing moves.
        if (!m_passWaitTold) {
            m_passWaitTold = true;
            logLine(*m_operator, " - The guard pass is still running: it waits for the database or the firewall ...");
        }
        return;
    }
    if (!m_parts->guard->tick())
        return;
    m_passRunning = true;
    m_passWaitTold = false;
    GuardTimer& guard = *m_parts->guard;
    Operator& op = *m_operator;
    const bool started =
        m_passWorker->start([&guard] { guard.runPass(); },
                            [this, &op, single](std::exception_ptr error) {
                                if (single && !error)
                                    logLine(op, " - Single pass carried out!");
                                // After the pass's own lines, which the window takes in the same order.
                                QMetaObject::invokeMethod(
                                    this, [this, single, error] { passEnded(single, error); }, Qt::QueuedConnection);
                            });
    if (!started)
        m_passRunning = false; // the worker is ending with the window
}

void Tmain_f::passEnded(bool single, const std::exception_ptr& error) {
    m_passRunning = false;
    if (std::exchange(m_watchPassAfterThis, false))
        QMetaObject::invokeMethod(this, &Tmain_f::watchedRecordsArrived, Qt::QueuedConnection);
    if (!error)
        return;
    if (single)
        reportError(error);
    else
        reportErrorAfterTick(error);
}

void Tmain_f::reportErrorAfterTick(const std::exception_ptr& error) {
    // A modal box opened inside the timer's own slot would hold every further tick (a timer
    // never fires into its own slot) until someone clicks OK: the box opens once the tick is over.
    const QString text = QString::fromStdString(errorReportText(error));
    // A pass that fails the same way every few seconds must not pile up boxes while nobody is
    // there to close them: a text already waiting or open is not added again.
    if (m_reportsAfterTick.contains(text))
        return;
    m_reportsAfterTick.append(text);
    if (m_reportsAfterTick.size() == 1)
        QMetaObject::invokeMethod(this, &Tmain_f::showReportsAfterTick, Qt::QueuedConnection);
}

void Tmain_f::showReportsAfterTick() {
    // One box at a time; ticks go on while it is open and may add to the list behind it.
    while (!m_reportsAfterTick.isEmpty()) {
        showErrorReport(m_reportsAfterTick.front());
        m_reportsAfterTick.removeFirst();
    }
}

void Tmain_f::setMaximum(int maximum) {
    // A range without width would turn the bar into a busy indicator.
    const int shown = std::max(maximum, PG->minimum() + 1);
    m_pgPosition = std::min(m_pgPosition, shown);
    PG->setMaximum(shown);
    PG->setValue(m_pgPosition);
}

void Tmain_f::stepIt() {
    const int minimum = PG->minimum();
    const int maximum = PG->maximum();
    int next = m_pgPosition + ProgressStep;
    // Past the end the bar starts over from the beginning, as a stepped progress bar does.
    if (next > maximum)
        next = (next - minimum) % (maximum - minimum) + minimum;
    m_pgPosition = next;
    PG->setValue(m_pgPosition);
}

void Tmain_f::reset() {
    m_pgPosition = 0;
    PG->setValue(0);
}

// ---- Honeypot -----------------------------------------------------------------------

void Tmain_f::btn_honeypotClick() {
    reportErrors([this] {
        if (!m_parts->pit->active()) {
            m_parts->pit->start(TarpitPortNumber->position());
            btn_honeypot->setText("Stop Honeypot");
            return;
        }
        m_parts->pit->stop(TarpitPort->text().toStdString());
        tarpit->clear();
        btn_honeypot->setText("Start Honeypot");
    });
}

void Tmain_f::Kick() {
    const QList<QListWidgetItem*> selected = tarpit->selectedItems();
    if (selected.isEmpty() || selected.first()->text().isEmpty())
        return;
    const std::string address = selected.first()->text().toStdString();
    reportErrors([this, &address] {
        if (m_parts->pit->kick(address) > 0) {
            // The entry selected now; each kicked connection's own ending removes one more.
            const QList<QListWidgetItem*> now = tarpit->selectedItems();
            if (!now.isEmpty())
                WindowOperator::deleteEntry(*tarpit, tarpit->row(now.first()));
        }
    });
}

// ---- Panes, menu, size ---------------------------------------------------------------

void Tmain_f::BTN_ClearLogClick() {
    Log->clear();
    m_operator->log(Pane::Log, " - Log display reset.");
}

void Tmain_f::Button3Click() {
    Clearlog->clear();
    m_operator->log(Pane::Clearlog, " - Log display reset.");
}

void Tmain_f::Konfiguration1Click() {
    m_config_f->showNonModal();
}

void Tmain_f::FormResize() {
    // Window managers may ignore the minimum size the window asks for.
    const QWidget* client = centralWidget();
    if (client->height() < MinimumClientHeight)
        resize(width(), height() + MinimumClientHeight - client->height());
    if (client->width() < MinimumClientWidth)
        resize(width() + MinimumClientWidth - client->width(), height());
}

void Tmain_f::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

} // namespace ostrel
