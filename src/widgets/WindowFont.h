#pragma once

#include <QFont>

class QWidget;

namespace ostrel {

// The program's font: Tahoma 8 point; where Tahoma is missing, a face of similar width, so
// that captions stay within their laid-out controls.
QFont windowFont();

// Gives the widget and every widget inside it that font. Set on each one, because under a
// style sheet a parent's font does not reach its children.
void applyWindowFont(QWidget& root);

} // namespace ostrel
