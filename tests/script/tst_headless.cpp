#include "Device.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int Code = -1;
    QString Out, Err;
};

// The program with no display at all.
TRun RunKestrel(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KESTREL_BINARY), args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

// Three test blocks against a modem: the JUnit report read back holds each, the failing one with
// its file and line, and the run ends with 1 naming the same place.
TEST(Headless, RunsAgainstAModemAndWritesJUnit) {
    if (QByteArray(KESTREL_BINARY).isEmpty())
        GTEST_SKIP() << "the program is not built in this configuration";
    TPtyDevice modem(ModemAnswer);
    QTemporaryDir dir;
    const QString report = dir.filePath("report.xml");
    const QString script = QStringLiteral(SCRIPTS_DIR "/modem.js");
    const TRun r = RunKestrel({"--run", script, "--port", QString::fromStdString(modem.Pty.Path),
                               "--baud", "115200", "--junit", report});
    EXPECT_EQ(r.Code, 1) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains(script + ":8: ")) << r.Err.toStdString();
    // Each log line with its time stamp.
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d reply \"OK\\\\r\\\\n\"$",
                                   QRegularExpression::MultilineOption)
                    .match(r.Out)
                    .hasMatch())
        << r.Out.toStdString();

    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList cases, failures;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testsuite")) {
            EXPECT_EQ(xml.attributes().value("failures"), QLatin1String("1"));
        }
        if (xml.name() == QLatin1String("testcase"))
            cases << xml.attributes().value("name").toString();
        if (xml.name() == QLatin1String("failure"))
            failures << cases.last() + "@" + xml.readElementText();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(cases, (QStringList{"answers AT", "refuses nonsense", "still there"}));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith("refuses nonsense@" + script + ":8: ")) << failures[0].toStdString();
}

// What cannot run ends with 2 and says why: a missing file, a device given as the script, a
// --junit without --run; a port that does not open too.
TEST(Headless, RefusesWhatCannotRunWithExitCode2) {
    if (QByteArray(KESTREL_BINARY).isEmpty())
        GTEST_SKIP() << "the program is not built in this configuration";
    TPtyDevice modem(ModemAnswer);
    const QString port = QString::fromStdString(modem.Pty.Path);
    const TRun missing = RunKestrel({"--run", "/nonexistent/x.js", "--port", port});
    EXPECT_EQ(missing.Code, 2);
    EXPECT_TRUE(missing.Err.contains("/nonexistent/x.js")) << missing.Err.toStdString();
    // The pseudo-terminal is no script: refused without being read (it would block).
    const TRun device = RunKestrel({"--run", port, "--port", "loopback"});
    EXPECT_EQ(device.Code, 2);
    const TRun junit = RunKestrel({"--junit", "/tmp/x.xml"});
    EXPECT_EQ(junit.Code, 2);
    EXPECT_TRUE(junit.Err.contains("--junit goes with --run")) << junit.Err.toStdString();
    const TRun closed = RunKestrel({"--run", QStringLiteral(SCRIPTS_DIR "/modem.js"), "--port",
                                    "/nonexistent/tty"});
    EXPECT_EQ(closed.Code, 2);
    EXPECT_TRUE(closed.Err.contains("/nonexistent/tty")) << closed.Err.toStdString();
}
