#pragma once
// What the two timed pages (the timed send and the protocol page's timed
// send) share: reading the interval field at the start and at every tick, and
// the run's caption with its count of frames. Window thread only.

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QLineEdit;
class QWidget;

// The text of UTF-8 bytes from the byte logic.
QString FromUtf8(const std::string& s);

// The whole number in field at a run's start; false, with the message shown
// over parent, when the text is not one.
bool ReadStartInterval(QWidget* parent, const QLineEdit* field, int64_t& value);

// The wait before a timed run's next tick: rule applied to the whole number in
// field. A text that is not one keeps last and marks the field (once for each
// such text), so that a run neither stops nor shows a message at every tick.
uint32_t NextIntervalOf(QLineEdit* field, uint32_t& last,
                        const std::function<uint32_t(int64_t)>& rule);

// A timed group's caption: the caption alone before the first frame, then
// with the count of frames sent.
QString CountCaption(const QString& caption, uint32_t count);
