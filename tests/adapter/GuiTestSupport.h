#pragma once
// Helpers shared by the widget tests.
#include <string>

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace tcmtest {

// Saves a picture of `widget` as <dir>/<name>.png when TCM_SCREENSHOT_DIR
// names a folder, so that the looks can be checked by eye.
inline void SaveScreenshot(QWidget& widget, const char* name)
{
    const QString dir = qEnvironmentVariable("TCM_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget.grab().save(dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png"));
}

} // namespace tcmtest
