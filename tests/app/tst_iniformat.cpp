#include "IniFormat.h"

#include "Qtprint.h"
#include "SettingsKeys.h"
#include "StoredSettings.h"

#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable values in failure messages.
static void PrintTo(const QVariant& v, std::ostream* os) {
    QString text;
    QDebug(&text) << v;
    *os << text.toStdString();
}

namespace {

using Map = QSettings::SettingsMap;

QByteArray Bytes(const char* text, qsizetype size) {
    return QByteArray(text, size);
}

// Values of every kind Kestrel stores, and text that needs each of the INI escapes.
Map Sample() {
    return {
        {"ComPort", qlonglong(3)},
        {"ReceNum", qlonglong(4294967295)},
        {"Negative", -7},
        {"Flag", true},
        {"Commas", "55, AA,FF"},
        {"Semicolon", "a;b=c"},
        {"Quotes", "say \"hi\""},
        {"Backslashes", "C:\\dir\\x41"},
        {"At", "@Variant(\\0)"},
        {"AtAt", "@@twice"},
        {"Spaces", "  both ends\t "},
        {"Controls", QString("line\nnext\r\ttab\a\b\f\v") + QChar(0x1F)},
        {"Nul", QString("a") + QChar(0) + "1f" + QChar(1) + "b"},
        {"Chinese", QStringLiteral("串口调试 中文")},
        {"Emoji", QStringLiteral("\U0001F600 x")},
        {"Empty", ""},
        {"Quote", "\""},
        {"List", QStringList{"a", " b ", "c,d", "@e"}},
        {"Nothing", QVariant()},
        {"WindowGeometry", Bytes("\x01\xd9\xd0\xcb\x00\x03\x00\x00\xff\xfe\x7f\x80\x30\x00", 14)},
        {"Bytes0", Bytes("\x00\xff\x00\x30\x61", 5)}, // "\0" and a hex digit after it
        {"EmptyBytes", QByteArray()},
        {"PortMap/COM1", "/dev/ttyUSB0"},
        {"PortMap/COM2", "loopback"},
        {"PortMap/Deeper/COM3", "x"},
        {"General/Inside", "a group named General"},
        {"odd key %/[x]=;", "v"},
        {QStringLiteral("键/值 é"), "non-ASCII key"},
    };
}

class SafeIni : public ::testing::Test {
protected:
    QString Path(const char* name) { return Dir.filePath(name); }
    QByteArray FileText(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
    QString Write(const char* name, const QByteArray& text) {
        const QString path = Path(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    // What Qt's own INI reader makes of the text.
    Map QtReads(const char* name, const QByteArray& text) {
        const QSettings s(Write(name, text), QSettings::IniFormat);
        Map map;
        for (const QString& key : s.allKeys())
            map.insert(key, s.value(key));
        return map;
    }
    Map Parse(const QByteArray& text) {
        Map map;
        EXPECT_TRUE(safeini::ParseIni(text, map));
        return map;
    }

    QTemporaryDir Dir;
};

TEST_F(SafeIni, ReadsWhatQtsIniWriterWritesAsQtReadsIt) {
    const Map values = Sample();
    {
        QSettings s(Path("qt.ini"), QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            s.setValue(it.key(), it.value());
    }
    const QByteArray text = FileText(Path("qt.ini"));
    const Map ours = Parse(text);
    const Map qt = QtReads("copy.ini", text);
    ASSERT_EQ(ours.keys(), qt.keys());
    for (auto it = qt.cbegin(); it != qt.cend(); ++it)
        EXPECT_EQ(ours[it.key()], it.value()) << it.key().toStdString() << "\n"
                                              << text.toStdString();
    // Numbers come back as text, as from Qt; the rest as they were stored.
    EXPECT_EQ(ours["ComPort"], "3");
    EXPECT_EQ(ours["Chinese"], values["Chinese"]);
    EXPECT_EQ(ours["WindowGeometry"], values["WindowGeometry"]);
    EXPECT_EQ(ours["List"], values["List"]);
    EXPECT_FALSE(ours["Nothing"].isValid());
}

TEST_F(SafeIni, QtsIniReaderReadsWhatWeWriteAndSoDoWe) {
    const Map values = Sample();
    const QByteArray text = safeini::FormatIni(values);
    const Map qt = QtReads("ours.ini", text);
    ASSERT_EQ(qt.keys(), values.keys()) << text.toStdString();
    for (auto it = qt.cbegin(); it != qt.cend(); ++it) {
        // Numbers and booleans come back as their text, as they do from Qt's own writer.
        const QVariant v = values[it.key()];
        const bool asText = v.isValid() && v.typeId() != QMetaType::QByteArray &&
                            v.typeId() != QMetaType::QStringList;
        EXPECT_EQ(it.value(), asText ? QVariant(v.toString()) : v) << it.key().toStdString();
    }
    const Map back = Parse(text);
    EXPECT_EQ(back, qt);
    EXPECT_EQ(safeini::FormatIni(back), text);

    // A key ending in '/' (kept in the file, though QSettings::value() never finds it): written
    // as a backslash, the slash would hide the '=' after it.
    const Map slash{{"G/a/", "v"}};
    EXPECT_EQ(QtReads("slash.ini", safeini::FormatIni(slash)).keys(), slash.keys());
    EXPECT_EQ(Parse(safeini::FormatIni(slash)), slash);
}

TEST_F(SafeIni, ReadsTheIniSyntaxAsQtDoes) {
    const struct {
        QByteArray text;
        const char* key;
        QVariant value; // invalid: the key is absent
    } cases[] = {
        {"k=v", "k", "v"}, // no section, no final line break
        {"\xef\xbb\xbf[General]\r\nk = v \r\n", "k", "v"},
        {"; comment\n[General]\nk=v ; comment\n", "k", "v"},
        {"[G]\nk=\"a;b\" ; c\n", "G/k", "a;b"},
        {"[G]\nk=\\;\\,x\n", "G/k", "x"}, // escapes of no meaning drop their character
        {"[G]\nk=\\x4e2d\\101\\0\n", "G/k", QString(QChar(0x4e2d)) + "A" + QChar(0)},
        {"[G]\nk=a, b ,\"c \"\n", "G/k", QStringList{"a", "b", "c "}},
        {"[G]\nk=@@x, y\n", "G/k", QStringList{"@x", "y"}},
        {"[G]\nk=@ByteArray(a), @Invalid()\n", "G/k", QVariantList{QByteArray("a"), QVariant()}},
        {"[G]\nk=\"multi\nline\"\n", "G/k", "multi\nline"},
        {"[G]\nk=a\\\nb\n", "G/k", "ab"},
        {"[%General]\nk=v\n", "General/k", "v"},
        {"[gEnErAl]\nk=v\n", "k", "v"},
        {"[a%20b\\c]\n%U4E2D%=v\n", "a b/c/\u4e2d%", "v"},
        {"[G]\nk=1\nk=2\n[G]\nk=3\n", "G/k", "3"},
        {"[G]\nk=\"  \"\n", "G/k", "  "},
        {"[G]\nk=\n", "G/k", ""},
        {"[G]\nk=\"open\nj=2\n", "G/j", QVariant()}, // the quote runs to the end
        {"[G\nk=v\n", "G/k", "v"},
        {"[G]\nno equals sign\nk=v\n", "G/k", "v"},
        {Bytes("[G]\nk=\xe4\xb8\xad\x00!\n", 12), "G/k", QString("\u4e2d") + QChar(0) + "!"},
    };
    int serial = 0;
    for (const auto& c : cases) {
        const QVariant absent("absent");
        const QVariant ours = Parse(c.text).value(c.key, absent);
        EXPECT_EQ(ours, c.value.isValid() ? c.value : absent) << c.text.toStdString();
        const QByteArray name = QByteArray::number(++serial) + ".ini";
        EXPECT_EQ(ours, QtReads(name.constData(), c.text).value(c.key, absent))
            << c.text.toStdString();
    }
}

// A value Qt's INI reader would hand to QDataStream: the first one here claims a list of
// 0x32000000 elements, and Qt's reader dies allocating it.
const QByteArray Crash = "[PortMap]\nCOM1=@Variant(\\0\\0\\0\\t2\\0\\0\\0\\x5)\nCOM2=loopback\n";

TEST_F(SafeIni, DropsValuesOfTypesKestrelNeverStoresAndReadsTheRest) {
    const QByteArray text = "[General]\nComPort=1\nWhen=@DateTime(\\0\\0\\0\\x10)\n"
                            "Shape=@Rect(1 2 3 4)\nOther=@Foo(1)\nHalf=@ByteArray(x\nBare=@x\n"
                            "Mixed=a, @Variant(\\0)\nBaudRate=2\n" +
                            Crash;
    EXPECT_EQ(Parse(text).keys(), (QStringList{"BaudRate", "ComPort", "PortMap/COM2"}));

    // Through QSettings, which parses every section when it writes the file back.
    const QString path = Write("Kestrel.conf", text);
    TStoredSettings read;
    {
        QSettings s(path, settings::Format());
        read = ReadStoredSettings(s);
        read.ReceNum = 9;
        WriteStoredSettings(s, read);
    }
    EXPECT_EQ(read.ComPort, 1);
    EXPECT_EQ(read.BaudRate, 2);
    ASSERT_TRUE(read.PortMap);
    EXPECT_EQ(read.PortMap->Targets[0], "");
    EXPECT_EQ(read.PortMap->Targets[1], "loopback");
    const QByteArray written = FileText(path);
    EXPECT_FALSE(written.contains("@Variant")) << written.toStdString();
    const QSettings again(path, settings::Format());
    EXPECT_EQ(again.allKeys(),
              (QStringList{"BaudRate", "ComPort", "PortMap/COM1", "PortMap/COM2", "PortMap/COM3",
                           "PortMap/COM4", "PortMap/COM5", "PortMap/COM6", "ReceNum"}));
    EXPECT_EQ(ReadStoredSettings(again).PortMap, read.PortMap);
}

TEST_F(SafeIni, AFileOverTheLimitReadsAsEmptyAndStaysAsItIs) {
    const QByteArray head = "[General]\nComPort=1\n";
    const QByteArray atLimit = head + QByteArray(safeini::MaxFileBytes - head.size(), ';');
    EXPECT_EQ(Parse(atLimit).value("ComPort"), "1");

    const QByteArray over = atLimit + ';';
    Map map;
    EXPECT_FALSE(safeini::ParseIni(over, map));
    EXPECT_TRUE(map.isEmpty());
    const QString path = Write("big.conf", over);
    {
        const QSettings s(path, settings::Format());
        EXPECT_FALSE(s.contains("ComPort"));
        EXPECT_EQ(s.status(), QSettings::FormatError);
    }
    EXPECT_EQ(FileText(path), over);

    // A long group name over many short lines would make keys far larger than the file.
    QByteArray manyKeys = "[" + QByteArray(4096, 'g') + "]\n";
    while (manyKeys.size() < 4096 * 64)
        manyKeys += "k=\n";
    EXPECT_FALSE(safeini::ParseIni(manyKeys, map));
    EXPECT_TRUE(map.isEmpty());
}

TEST(SettingsOpen, KeepsTheFileWhereKestrelAlwaysKeptIt) {
    const QSettings s = settings::Open();
    EXPECT_EQ(s.format(), settings::Format());
    EXPECT_TRUE(s.fileName().endsWith("/Orvane Software/Kestrel.conf"))
        << s.fileName().toStdString();
    EXPECT_EQ(s.fileName(), QSettings(settings::Organisation, settings::Application).fileName());
}

} // namespace
