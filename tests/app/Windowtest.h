#pragma once
// What the window's tests and benchmarks share: waiting on the event loop,
// finding the window's parts by name and the settings a fresh window loads.

#include "IniFormat.h"
#include "SettingsKeys.h"

#include "Abdbctrls.h"
#include "Abled.h"
#include "AutoSendPage.h"
#include "ProtocolPage.h"
#include "ReceivePane.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "SettingsPage.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>

// The part of the window (or of a page) with the object name, as the user
// would find it; a name that is not there stops the run with a message.
template <class T>
T* Part(const QObject* root, const QString& name) {
    T* part = root->findChild<T*>(name);
    if (!part)
        qFatal("no part named %s", qPrintable(name));
    return part;
}
template <class T>
T* Part(const QObject& root, const QString& name) {
    return Part<T>(&root, name);
}
template <class T, class R>
T* Part(const std::unique_ptr<R>& root, const QString& name) {
    return Part<T>(root.get(), name);
}

// Runs the event loop until done() holds; false when ms passed first.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(2);
    }
    return true;
}

// Settings of a user with every option off, COM1 opening com1 and the other
// ports not mapped; the rate is an index of the rate list (6: 9600).
inline void StoreSettings(const std::string& com1, int baudIndex = 6) {
    QSettings s = settings::Open();
    s.clear();
    s.setValue(settings::ComPort, 0);
    s.setValue(settings::BaudRate, baudIndex);
    s.setValue(settings::Parity, 0);
    s.setValue(settings::ControlRTS, 0);
    s.setValue(settings::AllowHead, 0);
    s.setValue(settings::RTSEnabled, 0);
    s.setValue(settings::DTREnabled, 0);
    s.setValue(settings::SendMode, 0);
    s.setValue(settings::ReceNum, 6);
    s.setValue(settings::HeadBuff, settings::DefaultHeadBuff);
    s.beginGroup(settings::PortMapGroup);
    for (int i = 1; i <= 6; ++i)
        s.setValue(QString("COM%1").arg(i), i == 1 ? QString::fromStdString(com1) : QString());
    s.endGroup();
}
