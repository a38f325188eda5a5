#include "config/qt/WindowPlacement.h"

#include "config/IniFile.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cmath>
#include <cstdio>

namespace ostrel {

namespace {

const std::string Section = "Layout\\";

// Ends the store's batch on every path, so the file is rewritten once.
class Batch {
public:
    explicit Batch(IniFile& ini) : m_ini(ini) { m_ini.BeginUpdate(); }
    ~Batch() { m_ini.EndUpdate(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    IniFile& m_ini;
};

std::string joinFour(int a, int b, int c, int d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
}

bool onAMonitor(const QPoint& point) {
    return QGuiApplication::screenAt(point) != nullptr;
}

} // namespace

WindowPlacement::WindowPlacement(QWidget& window, IniFile& ini) : m_window(window), m_ini(ini) {}

std::string WindowPlacement::desktopSuffix() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize desktop = screen ? screen->virtualSize() : QSize(0, 0);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(%dx%d)", desktop.width(), desktop.height());
    return suffix;
}

int WindowPlacement::pixelsPerInch() const {
    const QScreen* screen = m_window.screen() ? m_window.screen() : QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : 96;
}

std::array<std::optional<int>, 4> WindowPlacement::parseFour(const std::string& text) {
    std::array<std::optional<int>, 4> items;
    const QStringList parts = QString::fromStdString(text).split(',');
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int value = parts[i].trimmed().toInt(&ok);
        if (ok)
            items[i] = value;
    }
    return items;
}

int WindowPlacement::currentShowCmd() const {
    if (m_window.isMinimized())
        return ShowMinimized;
    if (m_window.isMaximized())
        return ShowMaximized;
    return ShowNormal;
}

std::string WindowPlacement::readRectangle(const std::string& key) {
    const std::string withSuffix = Section + key + desktopSuffix();
    if (m_ini.ValueExists(withSuffix))
        return m_ini.ReadString(withSuffix, "");
    return m_ini.ReadString(Section + key, "");
}

void WindowPlacement::restore() {
    Batch batch(m_ini);
    if (m_ini.ReadInteger(Section + "FormVersion", 0) != FormVersion)
        return;
    const int currentFlags = m_window.windowState().testFlag(Qt::WindowMaximized) ? RestoreToMaximized : 0;
    // The window system here has no placement flags to hand them to; they are read for
    // their check only.
    m_ini.ReadInteger(Section + "Flags", currentFlags);
    parseFour(readRectangle("MinMaxPos")); // no minimised or maximised position to apply here

    const QRect current = m_window.geometry();
    const auto norm = parseFour(readRectangle("NormPos"));
    const int left = norm[0].value_or(current.left());
    const int top = norm[1].value_or(current.top());
    const int right = norm[2].value_or(left + current.width());
    const int bottom = norm[3].value_or(top + current.height());

    const int storedPpi = m_ini.ReadInteger(Section + "PixelsPerInch", pixelsPerInch());
    if (storedPpi == pixelsPerInch() && left < right && onAMonitor(QPoint(left, top)) &&
        onAMonitor(QPoint(right - 1, bottom - 1)))
        m_window.setGeometry(left, top, right - left, bottom - top);

    const int showCmd = m_ini.ReadInteger(Section + "ShowCmd", currentShowCmd());
    const Qt::WindowStates normal = m_window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    switch (showCmd) {
    case 3:
        m_window.setWindowState(normal | Qt::WindowMaximized);
        break;
    case 2:
    case 6:
    case 7: {
        // Shown normal first, then minimised once the window system has it.
        m_window.setWindowState(normal);
        QWidget* window = &m_window;
        QTimer::singleShot(0, window, [window] { window->showMinimized(); });
        break;
    }
    default:
        m_window.setWindowState(normal);
        break;
    }
}

void WindowPlacement::save() {
    Batch batch(m_ini);
    m_ini.WriteInteger(Section + "FormVersion", FormVersion);
    m_ini.WriteInteger(Section + "ShowCmd", currentShowCmd());
    const Qt::WindowStates state = m_window.windowState();
    const bool restoresMaximized = state.testFlag(Qt::WindowMinimized) && state.testFlag(Qt::WindowMaximized);
    m_ini.WriteInteger(Section + "Flags", restoresMaximized ? RestoreToMaximized : 0);
    m_ini.WriteInteger(Section + "PixelsPerInch", pixelsPerInch());

    const std::string suffix = desktopSuffix();
    const std::string minMax = joinFour(-1, -1, -1, -1);
    m_ini.WriteString(Section + "MinMaxPos" + suffix, minMax);
    m_ini.WriteString(Section + "MinMaxPos", minMax);
    const QRect normal = m_window.normalGeometry().isValid() ? m_window.normalGeometry() : m_window.geometry();
    const std::string norm =
        joinFour(normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height());
    m_ini.WriteString(Section + "NormPos" + suffix, norm);
    m_ini.WriteString(Section + "NormPos", norm);
}

} // namespace ostrel
