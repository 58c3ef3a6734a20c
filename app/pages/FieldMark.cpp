#include "FieldMark.h"

#include <QApplication>
#include <QLineEdit>
#include <QToolTip>
#include <QWidget>

namespace {
const char* const SavedPalette = "kestrelUnmarkedPalette";
const char* const SavedTip = "kestrelUnmarkedTip";
} // namespace

void MarkField(QWidget* field, const QString& why) {
    if (!FieldMarked(field)) {
        field->setProperty(SavedPalette, field->palette());
        field->setProperty(SavedTip, field->toolTip());
    }
    QPalette p = field->palette();
    p.setColor(QPalette::Text, Qt::red);
    field->setPalette(p);
    field->setToolTip(why);
    QApplication::beep();
    if (field->isVisible())
        QToolTip::showText(field->mapToGlobal(field->rect().bottomLeft()), why, field);
}

void ClearFieldMark(QWidget* field) {
    if (!FieldMarked(field))
        return;
    field->setPalette(field->property(SavedPalette).value<QPalette>());
    field->setProperty(SavedPalette, QVariant());
    field->setToolTip(field->property(SavedTip).toString());
}

bool FieldMarked(const QWidget* field) {
    return field->property(SavedPalette).isValid();
}

void SetFieldTip(QWidget* field, const QString& tip) {
    if (FieldMarked(field))
        field->setProperty(SavedTip, tip);
    else
        field->setToolTip(tip);
}
