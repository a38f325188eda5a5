#pragma once

#include <QString>

class QApplication;

namespace ostrel {

// Applies the visual style of that name from the program's resources (":/styles/<name>.qss")
// over the Fusion look. False, and the standard look kept, when the program carries no
// style of that name.
bool applyVisualStyle(QApplication& application, const QString& name);

// The message that tells the operator a style is missing.
QString missingStyleMessage(const QString& name);

} // namespace ostrel
