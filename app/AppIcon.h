// app/AppIcon.h: the program's pictures, drawn in code: the window and tray icon, and the
// status page button's picture. Need a QGuiApplication.
#pragma once

#include <QIcon>

namespace app {

// A location pin over a blue disc with radio arcs.
QIcon applicationIcon();

// A small monitor showing a pulse line.
QIcon statusPageIcon();

} // namespace app
