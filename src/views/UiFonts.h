#pragma once
#include <QFont>
#include <QStringList>

// The window's texts are placed for "MS Sans Serif". Where it is missing,
// fonts of about its width come before the style's wide default, so that
// labels and cell texts still fit the sizes the controls were given.
inline QFont SansSerifPixelFont(int pixels)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans Condensed")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

// A fixed-width font asked for by name ("Lucida Console"); the style hint picks
// the system's monospace font where that one is missing.
inline QFont FixedPixelFont(const char* family, int pixels)
{
    QFont font(QString::fromLatin1(family));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(pixels);
    return font;
}
