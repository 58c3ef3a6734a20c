// The command line: what it accepts and refuses, and --port, --baud and
// --parity applied to a real window for one run, the stored settings left as
// they were.

#include "CommandLine.h"
#include "Dialogs.h"
#include "Pty.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "StoredSettings.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QComboBox>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

TCmdLine Parse(const QStringList& args) {
    return ParseCommandLine(QStringList{"kestrel"} + args);
}

TEST(CommandLine, NoOptionsStartAsAlwaysAndTheAnswersExitAtOnce) {
    const TCmdLine plain = Parse({});
    EXPECT_FALSE(plain.Exit || plain.ListPorts || plain.Port || plain.BaudRate || plain.Parity);

    const TCmdLine version = Parse({"--version"});
    EXPECT_TRUE(version.Exit);
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Output, "Kestrel " + VersionText() + "\n");
    for (const char* h : {"--help", "-h", "--help-all"}) {
        const TCmdLine help = Parse({h});
        EXPECT_TRUE(help.Exit) << h;
        EXPECT_TRUE(help.Output.startsWith("Usage: kestrel")) << h;
        EXPECT_TRUE(help.Output.contains("--list-ports")) << h;
        EXPECT_FALSE(help.Output.contains("platform")) << h; // the toolkit's own stay hidden
    }
    EXPECT_TRUE(Parse({"--list-ports"}).ListPorts);
    // The toolkit's options pass through to it.
    EXPECT_FALSE(Parse({"-platform", "offscreen", "-style", "Fusion"}).Exit);
}

TEST(CommandLine, PortRateAndParityAreTakenAndBadOnesRefusedWithTheUsage) {
    const TCmdLine line = Parse({"--port", "/dev/ttyUSB3", "--baud", "250000", "--parity", "Mark"});
    EXPECT_FALSE(line.Exit);
    EXPECT_EQ(line.Port, "/dev/ttyUSB3");
    EXPECT_EQ(line.BaudRate, 250000u);
    EXPECT_EQ(line.Parity, 3);
    EXPECT_FALSE(line.LogFile);
    const TCmdLine log = Parse({"--log", "a.log", "--log-format", "Stamps"});
    EXPECT_EQ(log.LogFile, "a.log");
    EXPECT_EQ(log.LogKind, 2);
    EXPECT_EQ(Parse({"--log", "a.log"}).LogKind, 0);
    for (const QStringList& bad :
         {QStringList{"--log-format", "raw"}, QStringList{"--log", "a", "--log-format", "hex"},
          QStringList{"--log", ""}, QStringList{"--run", "a.js", "--log", "a"},
          QStringList{"--bogus"}, QStringList{"--baud", "0"}, QStringList{"--baud", "fast"},
          QStringList{"--parity", "sometimes"}, QStringList{"--port"}, QStringList{"--port", " "},
          QStringList{"stray"}}) {
        const TCmdLine r = Parse(bad);
        EXPECT_TRUE(r.Exit) << bad.join(' ').toStdString();
        EXPECT_EQ(r.ExitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.Error.contains("Usage: kestrel")) << bad.join(' ').toStdString();
    }
}

TEST(CommandLine, ThePortGivenIsOpenedForThisRunOnlyAndLoggedFromTheStart) {
    TPty far;
    StoreSettings("loopback", 6); // COM1 on the plug, 9600
    QTemporaryDir dir;
    const QString log = dir.filePath("run.log");
    auto frm = std::make_unique<TFrmMain>();
    frm->ApplyCommandLine(Parse({"--port", QString::fromStdString(far.Path), "--baud", "57600",
                                 "--parity", "even", "--log", log, "--log-format", "stamps"}));
    frm->show();
    ASSERT_TRUE(WaitUntil([&] {
        return frm->Worker().IsOpen() && frm->Worker().LastOpenError().Target == far.Path;
    }));
    EXPECT_EQ(frm->Worker().GetLineSettings().BaudRate, 57600u);
    EXPECT_EQ(frm->Worker().GetLineSettings().Parity, 2);
    far.Write({'Z', '\r', '\n'});
    const QRegularExpression stamped("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Z\n$");
    EXPECT_TRUE(WaitUntil([&] {
        QFile logged(log);
        return logged.open(QIODevice::ReadOnly) &&
               stamped.match(QString::fromUtf8(logged.readAll())).hasMatch();
    }));
    frm->SaveSettings();
    frm.reset();
    const TStoredSettings stored =
        ReadStoredSettings(settings::Open());
    ASSERT_TRUE(stored.PortMap);
    EXPECT_EQ(stored.PortMap->Targets[0], "loopback");
    EXPECT_EQ(stored.BaudRate, 6);
    EXPECT_EQ(stored.Parity, 0);
    EXPECT_FALSE(stored.CustomBaudRate);
}

TEST(HelpBox, NamesTheDocumentationAndItsChaptersWithoutAPlaceholderAddress) {
    StoreSettings("loopback");
    TFrmMain frm;
    frm.show();
    dialogs::RecordMessages(true);
    QTest::mouseClick(Part<QToolButton>(frm, "ToolHelp"), Qt::LeftButton);
    dialogs::RecordMessages(false);
    const QStringList shown = dialogs::TakeMessages();
    ASSERT_EQ(shown.size(), 1);
    const QString text = shown.first();
    EXPECT_TRUE(text.startsWith("主页地址: " + TFrmMain::DocumentationFile() + " \n电子邮箱："));
    EXPECT_TRUE(text.contains("README.md"));
    EXPECT_TRUE(text.contains("· Two commands"));
    EXPECT_TRUE(text.contains("· Command line"));
    EXPECT_FALSE(text.contains("http"));
}

} // namespace
