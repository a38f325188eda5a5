// The operator window's controls and menu, as laid out: positions are those of a client
// area of 747 × 593, and each control keeps its distance to the edges it is anchored to.
#include "main/AnchorLayout.h"
#include "main/Tmain_f.h"
#include "widgets/UpDown.h"
#include "widgets/WindowFont.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace ostrel {

namespace {

constexpr int L = AnchorLayout::Left;
constexpr int T = AnchorLayout::Top;
constexpr int R = AnchorLayout::Right;
constexpr int B = AnchorLayout::Bottom;

template <typename Control> Control* named(Control* control, const char* name) {
    control->setObjectName(name);
    return control;
}

QPlainTextEdit* logPane(const char* name) {
    auto* pane = named(new QPlainTextEdit, name);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pane->setTabChangesFocus(true);
    return pane;
}

} // namespace

void Tmain_f::createControls() {
    setObjectName("main_f");
    setWindowTitle("RDP-Ostrel");

    auto* client = new QWidget(this);
    client->setObjectName("client");
    auto* layout = new AnchorLayout(QSize(LaidOutClientWidth, LaidOutClientHeight),
                                    QSize(MinimumClientWidth, MinimumClientHeight), client);

    BTN_Timer = named(new QPushButton("Start timer"), "BTN_Timer");
    Log = logPane("Log");
    Debug = named(new QCheckBox("Debug"), "Debug");
    DetailLog = named(new QCheckBox("Detail Log"), "DetailLog");
    PG = named(new QProgressBar, "PG");
    PG->setRange(0, 100);
    PG->setValue(0);
    PG->setTextVisible(false);
    PG->setFocusPolicy(Qt::NoFocus);
    Button1 = named(new QPushButton("Single pass"), "Button1");
    BTN_ClearLog = named(new QPushButton("Reset log display"), "BTN_ClearLog");
    tarpit = named(new QListWidget, "tarpit");
    tarpit->setSortingEnabled(false);
    tarpit->setSelectionMode(QAbstractItemView::SingleSelection);
    btn_honeypot = named(new QPushButton("Start Honeypot"), "btn_honeypot");
    TarpitPort = named(new QLineEdit("3389"), "TarpitPort");
    TarpitPortNumber = named(new UpDown(3300, 3400, 3389), "TarpitPortNumber");
    TarpitPortNumber->setAssociate(TarpitPort);
    Button2 = named(new QPushButton("Kick"), "Button2");
    Clearlog = logPane("Clearlog");
    Button3 = named(new QPushButton("Reset log display"), "Button3");

    layout->addAnchored(BTN_Timer, QRect(160, 25, 446, 25), L | T | R);
    layout->addAnchored(Log, QRect(8, 56, 598, 342), L | T | R | B);
    layout->addAnchored(Debug, QRect(667, 2, 71, 17), T | R);
    layout->addAnchored(DetailLog, QRect(590, 2, 71, 17), T | R);
    layout->addAnchored(PG, QRect(8, 560, 730, 25), L | R | B);
    layout->addAnchored(Button1, QRect(8, 25, 129, 25), L | T);
    layout->addAnchored(BTN_ClearLog, QRect(8, 404, 598, 21), L | R | B);
    layout->addAnchored(tarpit, QRect(612, 56, 125, 471), T | R | B);
    layout->addAnchored(btn_honeypot, QRect(612, 25, 125, 25), T | R);
    layout->addAnchored(TarpitPort, QRect(681, 533, 39, 21), R | B);
    layout->addAnchored(TarpitPortNumber, QRect(720, 533, 17, 21), R | B);
    layout->addAnchored(Button2, QRect(612, 533, 63, 21), R | B);
    layout->addAnchored(Clearlog, QRect(8, 431, 598, 96), L | R | B);
    layout->addAnchored(Button3, QRect(8, 533, 598, 21), L | R | B);

    QWidget* tabOrder[] = {BTN_Timer, Log,          Debug,      DetailLog, Button1,  BTN_ClearLog,
                           tarpit,    btn_honeypot, TarpitPort, Button2,   Clearlog, Button3};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    setCentralWidget(client);
    Timer = named(new QTimer(this), "Timer");
    Timer->setInterval(1000);
}

void Tmain_f::createMenu() {
    QMenu* program = menuBar()->addMenu("Program");
    program->setObjectName("Program1");
    Konfiguration1 = named(program->addAction("Configuration"), "Konfiguration1");
    Beenden1 = named(program->addAction("Exit"), "Beenden1");
    applyWindowFont(*this);
    // The laid-out size, also on screens where a window's default size would be smaller.
    resize(LaidOutClientWidth, LaidOutClientHeight + menuBar()->sizeHint().height());
}

} // namespace ostrel
