#include "CommandLine.h"

#include "Language.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <initializer_list>
#include <optional>

QString VersionText() {
    return QStringLiteral(KESTREL_VERSION);
}

namespace {

// Which of names the value is (blanks around it and case aside), by its place in names.
std::optional<int> Choice(const QString& value, std::initializer_list<const char*> names) {
    const QString name = value.trimmed().toLower();
    int i = 0;
    for (const char* n : names) {
        if (name == QLatin1String(n))
            return i;
        ++i;
    }
    return std::nullopt;
}

} // namespace

TLanguage RunLanguage(const TCmdLine& line, std::optional<int64_t> stored) {
    if (line.Language)
        return TLanguage(*line.Language);
    return stored == 1 ? TLanguage::English : TLanguage::Chinese;
}

TCmdLine ParseCommandLine(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Kestrel: a serial-port terminal for testing and debugging devices.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port("port",
                                  "Open DEVICE as COM1 for this run (the stored port map is "
                                  "not changed). DEVICE is a path or \"loopback\".",
                                  "DEVICE");
    const QCommandLineOption baud("baud", "Use the baud rate N.", "N");
    const QCommandLineOption parity("parity", "Use the parity none, odd, even, mark or space.",
                                    "PARITY");
    const QCommandLineOption list("list-ports",
                                  "Print which device each of COM1..COM6 opens, and the "
                                  "serial devices found, then exit.");
    const QCommandLineOption lang("lang",
                                  "Show the interface in LANG: zh (Chinese, the default) or en "
                                  "(English), for this run.",
                                  "LANG");
    const QCommandLineOption run("run",
                                 "Run the script FILE without a window, on the port (COM1 with "
                                 "--port), then exit: 0 when it ends, 1 when it fails, 2 when it "
                                 "cannot be loaded or parsed or the port does not open.",
                                 "FILE");
    const QCommandLineOption junit("junit", "With --run: also write a JUnit XML report to FILE.",
                                   "FILE");
    const QCommandLineOption log("log",
                                 "Record everything received to FILE from the start, as the "
                                 "receive pane's live log does.",
                                 "FILE");
    const QCommandLineOption logFormat(
        "log-format",
        "With --log: raw (the bytes as they came, the default), text or stamps "
        "(text lines with the time each began).",
        "FORMAT");
    parser.addOptions({port, baud, parity, lang, list, run, junit, log, logFormat});
    // The toolkit's own options (-platform offscreen, -style ...) pass through
    // to it: accepted here, applied by QApplication.
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                             "stylesheet", "display", "geometry", "qwindowgeometry", "qwindowicon",
                             "qwindowtitle", "title", "name", "session", "visual"}) {
        QCommandLineOption qt(QString::fromLatin1(name), QString(), "value");
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qt{QString::fromLatin1(name)};
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    TCmdLine out;
    // The usage line names the program as users start it, whatever the
    // executable (or the lack of an application object) would make it.
    auto usage = [&] {
        return parser.helpText().replace(QRegularExpression("^Usage: \\S+"), "Usage: kestrel");
    };
    auto fail = [&](const QString& why) {
        out.Exit = true;
        out.ExitCode = 2;
        out.Error = "kestrel: " + why + "\n\n" + usage();
        return out;
    };
    // QCommandLineParser would ask the application object for its name and
    // version; the texts are made here instead, without one.
    if (!parser.parse(args))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail("unexpected argument '" + parser.positionalArguments().first() + "'");
    if (parser.isSet(help) || parser.isSet("help-all")) {
        out.Exit = true;
        out.Output = usage();
        return out;
    }
    if (parser.isSet(version)) {
        out.Exit = true;
        out.Output = "Kestrel " + VersionText() + "\n";
        return out;
    }
    if (parser.isSet(port)) {
        const QString device = parser.value(port).trimmed();
        if (device.isEmpty())
            return fail("--port needs a device");
        out.Port = device;
    }
    if (parser.isSet(baud)) {
        bool ok = false;
        const uint32_t rate = parser.value(baud).toUInt(&ok);
        if (!ok || rate == 0 || rate > 99999999)
            return fail("--baud needs a rate from 1 to 99999999, not '" + parser.value(baud) + "'");
        out.BaudRate = rate;
    }
    if (parser.isSet(parity)) {
        out.Parity = Choice(parser.value(parity), {"none", "odd", "even", "mark", "space"});
        if (!out.Parity)
            return fail("--parity is one of none, odd, even, mark, space, not '" +
                        parser.value(parity) + "'");
    }
    if (parser.isSet(lang)) {
        const std::optional<TLanguage> language = LanguageFromName(parser.value(lang));
        if (!language)
            return fail("--lang is zh or en, not '" + parser.value(lang) + "'");
        out.Language = int(*language);
    }
    if (parser.isSet(run)) {
        if (parser.value(run).isEmpty())
            return fail("--run needs a script file");
        out.RunScript = parser.value(run);
    }
    if (parser.isSet(junit)) {
        if (!out.RunScript)
            return fail("--junit goes with --run");
        if (parser.value(junit).isEmpty())
            return fail("--junit needs a file");
        out.JUnitFile = parser.value(junit);
    }
    if (parser.isSet(log)) {
        if (out.RunScript)
            return fail("--log goes with the window, not with --run");
        if (parser.value(log).isEmpty())
            return fail("--log needs a file");
        out.LogFile = parser.value(log);
    }
    if (parser.isSet(logFormat)) {
        if (!out.LogFile)
            return fail("--log-format goes with --log");
        const std::optional<int> kind = Choice(parser.value(logFormat), {"raw", "text", "stamps"});
        if (!kind)
            return fail("--log-format is one of raw, text, stamps, not '" +
                        parser.value(logFormat) + "'");
        out.LogKind = *kind;
    }
    out.ListPorts = parser.isSet(list);
    return out;
}
