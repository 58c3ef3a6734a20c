#pragma once
// Input a page refuses: the field shows red with the reason in its tip, and
// the tip is shown at once; no message box. The mark goes when the field is
// used again successfully. Window thread only.

#include <QString>

#include <cstdint>
#include <functional>

class QLineEdit;

class QWidget;

void MarkField(QWidget* field, const QString& why);
void ClearFieldMark(QWidget* field);
bool FieldMarked(const QWidget* field);
// The field's own tip: shown at once, or once the mark goes when it is marked.
void SetFieldTip(QWidget* field, const QString& tip);

// The wait before a timed run's next tick: rule applied to the whole number in
// field. A text that is not one keeps last and marks the field (once for each
// such text), so that a run neither stops nor shows a message at every tick.
uint32_t NextIntervalOf(QLineEdit* field, uint32_t& last,
                        const std::function<uint32_t(int64_t)>& rule);
