#include "main/VisualStyle.h"

#include <QApplication>
#include <QFile>
#include <QStyleFactory>

namespace ostrel {

bool applyVisualStyle(QApplication& application, const QString& name) {
    QFile sheet(":/styles/" + name + ".qss");
    if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // The sheet only colours; Fusion gives every platform the same shapes beneath it.
    if (QStyle* fusion = QStyleFactory::create("Fusion"))
        application.setStyle(fusion);
    application.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    return true;
}

QString missingStyleMessage(const QString& name) {
    return "The visual style \"" + name + "\" was not found; the standard look is used.";
}

} // namespace ostrel
