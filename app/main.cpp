// Kestrel: a serial-port terminal for testing and debugging devices.

#include "AppFonts.h"
#include "CommandLine.h"
#include "HeadlessRun.h"
#include "Language.h"
#include "IniFormat.h"
#include "SettingsFile.h"
#include "SettingsKeys.h"
#include "StallProbe.h"
#include "StoredSettings.h"
#include "Unitmain.h"

#include "Handover.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

#include <csignal>
#include <cstdio>

namespace {

// The COM map in use (the stored one, or the detected one) and what detection finds.
QString PortListText() {
    const TStoredSettings stored =
        ReadStoredSettings(settings::ReadFile().Map);
    const TPortMap detected = TPortMap::Defaults();
    const TPortMap map = stored.PortMap ? *stored.PortMap : detected;
    auto name = [](const std::string& t) {
        return t.empty()             ? QStringLiteral("(none)")
               : t == LoopbackTarget ? QStringLiteral("loopback (the built-in loopback plug)")
                                     : QString::fromStdString(t);
    };
    QString text = stored.PortMap ? "Port map (stored):\n" : "Port map (detected, none stored):\n";
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
        text += QString("  COM%1  %2\n").arg(i + 1).arg(name(map.Targets[i]));
    text += "Detected:\n";
    for (const std::string& t : detected.Targets)
        if (!t.empty())
            text += "  " + name(t) + "\n";
    return text;
}

} // namespace

int main(int argc, char** argv) {
    // A log or a peer that goes away ends its own work with EPIPE, never the program.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const TCmdLine line = ParseCommandLine(args);
    if (line.Exit) {
        std::fputs(line.Output.toLocal8Bit().constData(), stdout);
        std::fputs(line.Error.toLocal8Bit().constData(), stderr);
        return line.ExitCode;
    }
    if (line.ListPorts) {
        std::fputs(PortListText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    // A script run needs no display: it makes no window.
    if (line.RunScript)
        return RunHeadless(line, argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("kestrel: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "Kestrel is a desktop program.\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    InstallHandoverFilter(&app);
    // The stored language, or the command line's for this run, before any text is made.
    const TStoredSettings stored =
        ReadStoredSettings(settings::ReadFile().Map);
    SetLanguage(RunLanguage(line, stored.Language));
    QApplication::setOrganizationName("Orvane Software");
    QApplication::setApplicationName("Kestrel");
    QApplication::setApplicationVersion(VersionText());
    QApplication::setFont(CaptionFont());
    try {
        TFrmMain FrmMain;
        FrmMain.ApplyCommandLine(line);
        FrmMain.show();
        StartStallProbeFromEnvironment(&FrmMain);
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kestrel " + VersionText(),
                              QString::fromUtf8(e.what()));
    }
    return 0;
}
