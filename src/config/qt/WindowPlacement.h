#pragma once

#include <QRect>
#include <QString>
#include <array>
#include <optional>
#include <string>

class QWidget;

namespace ostrel {

class IniFile;

// The placement store `JvFormStorage1`: keeps a window's normal rectangle and show state in
// the section "Layout" of Config.ini. Show states use the classic codes (1 normal,
// 2 minimised, 3 maximised); rectangles are left, top, right, bottom of the window's normal
// geometry in desktop coordinates; "MinMaxPos" has no counterpart here and is written as
// "-1,-1,-1,-1", the value of a window that was never minimised or maximised by position.
class WindowPlacement {
public:
    static constexpr int FormVersion = 1;
    static constexpr int ShowNormal = 1;
    static constexpr int ShowMinimized = 2;
    static constexpr int ShowMaximized = 3;
    // The placement flag that says a minimised window comes back maximised.
    static constexpr int RestoreToMaximized = 2;

    WindowPlacement(QWidget& window, IniFile& ini);

    // Applies the stored placement before the window is first shown; a window to be minimised
    // is minimised once it is shown. Values that are no whole numbers raise EConvertError.
    void restore();
    // Writes the placement, the file rewritten once.
    void save();

    // "(<width>x<height>)" of the whole desktop, appended to the rectangle keys.
    static std::string desktopSuffix();
    // The four whole numbers of a rectangle value; a missing or unreadable item is nullopt.
    static std::array<std::optional<int>, 4> parseFour(const std::string& text);

private:
    // The value under the key with the desktop suffix when present, else under the plain key.
    std::string readRectangle(const std::string& key);
    int currentShowCmd() const;
    int pixelsPerInch() const;

    QWidget& m_window;
    IniFile& m_ini;
};

} // namespace ostrel
