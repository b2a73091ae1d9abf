// The font every window of the program uses: Tahoma, 11 pixels high. Where
// Tahoma is not installed, a similar sans-serif face takes its place.
#pragma once

#include <QFont>
#include <QStringList>

inline QFont FormFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}
