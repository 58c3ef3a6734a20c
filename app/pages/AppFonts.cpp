#include "AppFonts.h"

QFont CaptionFont(int pixelSize) {
    QFont font("Noto Sans CJK SC");
    font.setPixelSize(pixelSize);
    return font;
}

QFont PaneFont(int pixelSize) {
    QFont font("Noto Sans Mono CJK SC");
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    return font;
}
