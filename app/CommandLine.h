#pragma once
// Kestrel's command line. Parsed before the window exists, so that --help,
// --version and --list-ports answer without a display. With no options the
// program starts exactly as it always has.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct TCmdLine {
    bool Exit = false; // answered already: print Output / Error and end with ExitCode
    int ExitCode = 0;
    QString Output;
    QString Error;
    bool ListPorts = false;
    // For this run only: COM1 leads to Port and is selected; the rate, the
    // parity and the interface's language are applied. The stored settings stay as they were.
    std::optional<QString> Port;
    std::optional<uint32_t> BaudRate;
    std::optional<int> Parity; // 0 none .. 4 space
    std::optional<int> Language; // the interface's, as TLanguage: 0 Chinese, 1 English
    // Run this script without a window (HeadlessRun.h), and write a JUnit report of it.
    std::optional<QString> RunScript;
    std::optional<QString> JUnitFile;
    // Record everything received to this file from the start, as the receive pane's live log
    // does: LogKind 0 the raw bytes, 1 text lines, 2 text lines with time stamps.
    std::optional<QString> LogFile;
    int LogKind = 0;
};

// args as QCoreApplication::arguments gives them, the program's name first.
TCmdLine ParseCommandLine(const QStringList& args);

// The interface's language of this run: the command line's, else the stored
// one (Settings.h's Language), else Chinese.
enum class TLanguage;
TLanguage RunLanguage(const TCmdLine& line, std::optional<int64_t> stored);

// The version shown everywhere: title, label, --version, package.
QString VersionText();
