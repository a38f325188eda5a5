#pragma once

#include <QWidget>
#include <optional>

class QLineEdit;
class QToolButton;

namespace ostrel {

// An up-down control attached to a one-line field, as the classic up-down with a buddy
// works: its arrows (and the arrow keys while the field has the focus) step a position by 1
// within a range and write it into the field as plain digits. Typed text is not checked;
// it stays in the field as typed, and the position follows it while it is a whole number
// within the range.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(int minimum, int maximum, int position, QWidget* parent = nullptr);

    // Attaches the field; its text becomes the position's text.
    void setAssociate(QLineEdit* field);
    QLineEdit* associate() const { return m_field; }

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    // The field's value when it is a whole number within the range, otherwise the position
    // the control last held (set by its arrows or by the last valid text).
    int position() const;
    // Places a value through the control: kept within the range and shown in the field.
    void setPosition(int value);
    // What the arrows do: steps from the field's number (or the last position) and writes it.
    void stepBy(int steps);

    // The field's text as a whole number, if it is one.
    static std::optional<int> wholeNumber(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void followText(const QString& text);

    int m_minimum;
    int m_maximum;
    int m_position;
    QLineEdit* m_field = nullptr;
    QToolButton* m_up;
    QToolButton* m_down;
};

} // namespace ostrel
