#pragma once
// The window's file dialogs and message boxes, in one place so that tests can
// answer them: a queued answer is used instead of showing the dialog.

#include <QString>
#include <QStringList>

class QWidget;

namespace dialogs {

QString OpenFileName(QWidget* parent, const QString& title, const QString& filter);
QString SaveFileName(QWidget* parent, const QString& title, const QString& filter);
void Message(QWidget* parent, const QString& text);
// A name typed without an extension gets the dialog's default one (ext without the dot).
QString WithExtension(QString name, const char* ext);

// For tests: the next file dialogs answer these names in turn (an empty name
// is a cancelled dialog); messages are recorded instead of shown.
void SetNextFileNames(const QStringList& names);
void RecordMessages(bool on);
QStringList TakeMessages();

} // namespace dialogs
