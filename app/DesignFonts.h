// app/DesignFonts.h: the window's two faces, Tahoma and Times New Roman. Where they are missing,
// metric-compatible stand-ins (Liberation, which the package depends on) keep the widths the
// fixed layout was made for. Need a QGuiApplication.
#pragma once

#include <QFont>

namespace app {

// Tahoma at this point size, else the nearest narrow sans face: captions, labels, buttons.
QFont tahomaFont(int points);

// Times New Roman, bold, this many pixels high, else Liberation Serif: the close dialog's prompt.
QFont timesBoldFont(int pixels);

} // namespace app
