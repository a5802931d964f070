// app/DesignFonts.cpp
#include "app/DesignFonts.h"

#include <QStringList>

namespace app {

QFont tahomaFont(int points)
{
    QFont font(QStringLiteral("Tahoma"), points);
    // Narrow faces first: the captions are laid out for Tahoma's widths.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    return font;
}

QFont timesBoldFont(int pixels)
{
    QFont font(QStringLiteral("Times New Roman"));
    // Without these the system's serif steps in, which is often far wider and heavier.
    font.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                      QStringLiteral("Tinos")});
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

} // namespace app
