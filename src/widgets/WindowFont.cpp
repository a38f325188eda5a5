#include "widgets/WindowFont.h"

#include <QWidget>

namespace ostrel {

QFont windowFont() {
    QFont font("Tahoma", 8);
    font.setFamilies({"Tahoma", "Liberation Sans Narrow", "DejaVu Sans Condensed"});
    return font;
}

void applyWindowFont(QWidget& root) {
    const QFont font = windowFont();
    root.setFont(font);
    for (QWidget* widget : root.findChildren<QWidget*>())
        widget->setFont(font);
}

} // namespace ostrel
