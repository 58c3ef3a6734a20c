#pragma once

// Drawing functions of the control family, and the start and stop of the shared flash timer.
// Everything here runs on the GUI thread, except that the flash timer's own thread is started
// and stopped from here.

#include <QColor>
#include <QPoint>
#include <QString>
#include <QtGlobal>

class QPainter;

// A colour in the family's encoding: 0x00BBGGRR for a literal colour, 0x80000000 plus an index
// for a system colour, which is taken from the application palette when it is drawn.
using TColor = quint32;

constexpr TColor clBlack = 0x00000000;
constexpr TColor clLime = 0x0000FF00;
constexpr TColor clRed = 0x000000FF;
constexpr TColor clYellow = 0x0000FFFF;
constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnHighlight = 0x80000014;

// The QColor of a family colour; system colours come from the application palette's active group
// so that a disabled control looks the same as an enabled one.
QColor AbColor(TColor Color);

// Left, top, right, bottom; right and bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

enum TLEDShape : quint8 { sRound, sArrowLeft, sArrowRight, sArrowUp, sArrowDown, sRectangle };

// Which point of a text's box lies on the point given to AbTextOut.
enum toPos : quint8 {
    toTopLeft,
    toTopCenter,
    toTopRight,
    toMidLeft,
    toMidCenter,
    toMidRight,
    toBotLeft,
    toBotCenter,
    toBotRight
};

// Draws one LED shape in Box with a 1-pixel Outline pen and a Fill brush colour (the brush style
// stays as the caller set it). A round LED also gets a highlight arc toward its top left.
void AbDrawLED(QPainter& Canvas, const TRect& Box, TLEDShape Shape, TColor Outline, TColor Fill);

// Draws a one-line text so that the point of its box named by Anchor lies on (X, Y); the text is
// drawn in the painter's pen colour and font, with no background, clipping or mnemonics.
void AbTextOut(QPainter& Canvas, int X, int Y, const QString& Text, toPos Anchor);

// Width and height of Text in the painter's font; returns (W div 2, H div 2).
QPoint AbGetTextSize(QPainter& Canvas, const QString& Text, int& W, int& H);

// Shrinks R by N on every side (a negative N grows it).
void AbBorder(TRect& R, int N);

inline int AbMaxInt(int A, int B) {
    return A > B ? A : B;
}

// The process-wide 50 ms flash timer. It is started when the library is loaded, before any
// control can exist, and stopped when the program ends; both may also be called explicitly
// (a second start or stop does nothing). Call from one thread at a time.
void AbStartFlashTimer();
void AbStopFlashTimer();
// The timer sleeps while the flash table is empty; adding to the table wakes it.
void AbWakeFlashTimer();
