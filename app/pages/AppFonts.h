#pragma once
// The window's two fonts. The captions are Chinese and need a CJK font; the
// panes need a monospaced one whose CJK glyphs are exactly two columns wide,
// so that the hex columns stay aligned. Both come from Debian's fonts-noto-cjk.

#include <QFont>

QFont CaptionFont(int pixelSize = 12);
QFont PaneFont(int pixelSize = 12);
