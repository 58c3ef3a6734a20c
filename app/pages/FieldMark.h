#pragma once
// Input a page refuses: the field shows red with the reason in its tip, and
// the tip is shown at once; no message box. The mark goes when the field is
// used again successfully. Window thread only.

#include <QString>

class QWidget;

void MarkField(QWidget* field, const QString& why);
void ClearFieldMark(QWidget* field);
bool FieldMarked(const QWidget* field);
// The field's own tip: shown at once, or once the mark goes when it is marked.
void SetFieldTip(QWidget* field, const QString& tip);
