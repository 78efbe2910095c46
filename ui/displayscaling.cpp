#include "displayscaling.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace DisplayScaling {

void enable()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // 125 % and 150 % stay what they are instead of being rounded to 100 % or 200 %. Qt
    // reads QT_SCALE_FACTOR_ROUNDING_POLICY before this setting, so a user's choice there
    // still wins, as QT_ENABLE_HIGHDPI_SCALING=0 still turns scaling off.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

} // namespace DisplayScaling
