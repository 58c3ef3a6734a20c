#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QStringList NextNames;
bool Recording = false;
QStringList Recorded;

} // namespace

namespace dialogs {

QString OpenFileName(QWidget* parent, const QString& title, const QString& filter) {
    if (!NextNames.isEmpty())
        return NextNames.takeFirst();
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QString SaveFileName(QWidget* parent, const QString& title, const QString& filter) {
    if (!NextNames.isEmpty())
        return NextNames.takeFirst();
    return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

void Message(QWidget* parent, const QString& text) {
    if (Recording) {
        Recorded << text;
        return;
    }
    // The window's title would be added by the platform to a display name; the box names the program.
    QMessageBox::information(parent, "Kestrel " + QApplication::applicationVersion(), text);
}

void SetNextFileNames(const QStringList& names) {
    NextNames = names;
}
void RecordMessages(bool on) {
    Recording = on;
}
QStringList TakeMessages() {
    return std::exchange(Recorded, {});
}

} // namespace dialogs
