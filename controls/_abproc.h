#pragma once

// Drawing functions of the control family, and the start and stop of the shared flash timer.
// The drawing runs on the GUI thread; the flash timer ticks on a thread of its own.

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

// The flash timer: one thread that calls Tick every FlashPeriod on a steady clock. The flash
// service (Abflasht) starts it when its first receiver registers; nothing runs before that.
// Tick returns whether anything is left to tick: after false the thread sleeps, changing no
// phase, until the next AbStartFlashTimer. A second start of a running timer only wakes it;
// AbStopFlashTimer waits for a tick in progress and ends the thread (a second stop does
// nothing). Start and stop are called from one thread at a time; Tick runs on the timer's own.
using TFlashTimerTick = bool (*)();
constexpr int FlashPeriodMs = 50;
void AbStartFlashTimer(TFlashTimerTick Tick);
void AbStopFlashTimer();
// Whether the timer's thread exists.
bool AbFlashTimerRunning();
