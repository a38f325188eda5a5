#include "widgets/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace ostrel {

UpDown::UpDown(int minimum, int maximum, int position, QWidget* parent)
    : QWidget(parent), m_minimum(minimum), m_maximum(maximum), m_position(std::clamp(position, minimum, maximum)),
      m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    setFocusPolicy(Qt::NoFocus);
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setIconSize(QSize(7, 7));
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName("up");
    m_down->setObjectName("down");
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDown::setAssociate(QLineEdit* field) {
    m_field = field;
    field->installEventFilter(this);
    connect(field, &QLineEdit::textChanged, this, &UpDown::followText);
    followText(field->text());
}

std::optional<int> UpDown::wholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void UpDown::followText(const QString& text) {
    const auto value = wholeNumber(text);
    if (value && *value >= m_minimum && *value <= m_maximum)
        m_position = *value;
}

int UpDown::position() const {
    if (m_field) {
        const auto value = wholeNumber(m_field->text());
        if (value && *value >= m_minimum && *value <= m_maximum)
            return *value;
    }
    return m_position;
}

void UpDown::setPosition(int value) {
    m_position = std::clamp(value, m_minimum, m_maximum);
    if (m_field)
        m_field->setText(QString::number(m_position));
}

void UpDown::stepBy(int steps) {
    int current = m_position;
    if (m_field) {
        // A number typed outside the range steps from the nearest end of the range.
        if (const auto value = wholeNumber(m_field->text()))
            current = std::clamp(*value, m_minimum, m_maximum);
    }
    setPosition(current + steps);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int upper = height() / 2;
    m_up->setGeometry(0, 0, width(), upper);
    m_down->setGeometry(0, upper, width(), height() - upper);
}

} // namespace ostrel
