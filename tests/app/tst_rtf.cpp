#include "Rtf.h"
#include "Rtfstream.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>

namespace {

QStringList Read(const QByteArray& data, bool* isRtf = nullptr, RtfStyle* style = nullptr) {
    return ReadRtf(data, isRtf, style);
}

// --- Writer and reader together ------------------------------------------------------------

struct RoundTripCase {
    const char* name;
    QStringList lines;
};

class RtfRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RtfRoundTrip, ReadingWhatWasWrittenGivesSameLines) {
    const RoundTripCase& c = GetParam();
    bool isRtf = false;
    RtfStyle style;
    EXPECT_EQ(Read(WriteRtf(c.lines, PaneStyle()), &isRtf, &style), c.lines);
    EXPECT_TRUE(isRtf);
    EXPECT_EQ(style.FontName, QStringLiteral("宋体"));
    EXPECT_EQ(style.TextColor, QColor(255, 255, 255));
    EXPECT_EQ(style.BackColor, QColor(0, 0, 0));
    EXPECT_EQ(style.FontSize, 9);
}

const RoundTripCase roundTripCases[] = {
    {"NoLines", {}},
    {"OneEmptyLine", {""}},
    {"EmptyLinesAround", {"", "a", "", ""}},
    {"HexDump",
     {"  00000000:  48 65 6C 6C 6F 0D 0A 00 FF                         Hello....       "}},
    {"Chinese", {QStringLiteral("通讯端口"), QStringLiteral("Kestrel 0.6测试版")}},
    {"Escapes", {"C:\\dir\\{x}", "}{", "\\par", "\\'b2"}},
    {"Tabs", {"\tA\t\tB\t"}},
    {"Emoji", {QStringLiteral("A😀B"), QStringLiteral("€ ü é")}},
    {"SpacesKept", {" ", "  two  ", "x "}},
    {"ControlCharacters",
     {QString::fromLatin1("a\x01"
                          "b\x7F"
                          "c")}},
    {"DigitsAfterEscapes", {QStringLiteral("😀123 测1"), "\t1"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RtfRoundTrip, ::testing::ValuesIn(roundTripCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Plain runs are scanned in 16-byte steps: every character that ends a run,
// at every place before, inside and after the first steps, ends it there.
TEST(RtfRoundTripRuns, CharactersThatEndARunAtEveryPlace) {
    const QString enders[] = {"\\", "{", "}", "\t", QString(QChar(0x01)), QString(QChar(0x7F)),
                              QStringLiteral("测"), QStringLiteral("é"), "\r"};
    QStringList lines;
    for (const QString& e : enders) {
        for (int at = 0; at < 40; ++at) {
            QString line(41, QChar('a' + at % 26));
            line.replace(at, 1, e);
            lines << line;
        }
    }
    const QStringList back = Read(WriteRtf(lines, PaneStyle()));
    ASSERT_EQ(back.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_EQ(back[i], lines[i]) << i;
}

TEST(RtfWriter, HeaderNamesCodePageFontAndColours) {
    const QByteArray rtf = WriteRtf({QStringLiteral("测")}, PaneStyle());
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg936\\deff0"));
    EXPECT_TRUE(
        rtf.contains("{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}"));
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red255\\green255\\blue255;\\red0\\green0\\blue0;}"));
    EXPECT_TRUE(rtf.contains("\\'b2\\'e2\\par"));
    EXPECT_TRUE(rtf.trimmed().endsWith('}'));
    for (const char c : rtf)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "only 7-bit bytes";
}

const QByteArray GeneratorGroup = "{\\*\\generator Kestrel " KESTREL_VERSION ";}";

TEST(RtfWriter, NamesItsMakerInTheHeadAfterTheTables) {
    const QByteArray rtf = WriteRtf({"  00000000:  41"}, PaneStyle());
    const qsizetype at = rtf.indexOf(GeneratorGroup);
    ASSERT_GE(at, 0) << rtf.constData();
    EXPECT_EQ(rtf.count("generator"), 1);
    EXPECT_GT(at, rtf.indexOf('}', rtf.indexOf("{\\colortbl")));
    EXPECT_LT(at, rtf.indexOf("\\pard"));
}

TEST(RtfWriter, CharactersOutsideCodePageAsSignedUnicode) {
    const QByteArray rtf = WriteRtf({QStringLiteral("😀")}, RtfStyle());
    EXPECT_TRUE(rtf.contains("\\uc1"));
    EXPECT_TRUE(rtf.contains("\\u-10179?\\u-8704?"));
}

TEST(RtfWriter, FontNameWithSemicolonAndBraceSurvives) {
    RtfStyle style;
    style.FontName = QStringLiteral("Odd;{Font}");
    RtfStyle read;
    Read(WriteRtf({"x"}, style), nullptr, &read);
    EXPECT_EQ(read.FontName, style.FontName);
}

TEST(RtfWriter, OversizedFontIsCapped) {
    RtfStyle style;
    style.FontSize = INT_MAX;
    RtfStyle read;
    Read(WriteRtf({"x"}, style), nullptr, &read);
    EXPECT_EQ(read.FontSize, 1638);
}

TEST(RtfWriter, NoColoursMeansAutomatic) {
    RtfStyle read;
    read.TextColor = Qt::red;
    Read(WriteRtf({"x"}, RtfStyle()), nullptr, &read);
    EXPECT_FALSE(read.TextColor.isValid());
    EXPECT_FALSE(read.BackColor.isValid());
    EXPECT_EQ(read.FontSize, 0);
}

// --- Reader on documents written by other editors ------------------------------------------

struct ReadCase {
    const char* name;
    QByteArray rtf;
    QStringList lines;
};

class RtfRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RtfRead, GivesLines) {
    const ReadCase& c = GetParam();
    bool isRtf = false;
    EXPECT_EQ(Read(c.rtf, &isRtf), c.lines);
    EXPECT_TRUE(isRtf);
}

const ReadCase readCases[] = {
    {"WindowsChinese",
     "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052{\\fonttbl{"
     "\\f0\\fnil\\fcharset134 "
     "\\'cb\\'ce\\'cc\\'e5;}}\r\n{\\colortbl ;\\red255\\green255\\blue0;}\r\n"
     "\\viewkind4\\uc1\\pard\\cf1\\lang2052\\f0\\fs18 "
     "\\'cd\\'a8\\'d1\\'b6\\'b6\\'cb\\'bf\\'da\\par\r\n"
     "55 AA\\par\r\n}\r\n",
     {QStringLiteral("通讯端口"), "55 AA"}},
    {"FinalLineWithoutPar", "{\\rtf1 one\\par two}", {"one", "two"}},
    {"OnlyPar", "{\\rtf1\\par}", {""}},
    {"Empty", "{\\rtf1}", {}},
    {"UnicodeUc1", "{\\rtf1\\uc1 a\\u27979?\\u-10179?\\u-8704?b}", {QStringLiteral("a测😀b")}},
    {"UnicodeUc0", "{\\rtf1\\uc0\\u27979\\u35797 x}", {QStringLiteral("测试x")}},
    {"UnicodeUc2WithHexFallback",
     "{\\rtf1\\ansicpg936\\uc2\\u27979\\'9c\\'79z}",
     {QStringLiteral("测z")}},
    {"UcIsGroupScoped", "{\\rtf1{\\uc0\\u65}\\u66?}", {"AB"}},
    {"SkipEndsAtGroup", "{\\rtf1\\uc3\\u65{x}y}", {"Axy"}},
    {"IgnorableDestination",
     "{\\rtf1{\\*\\generator Riched20;}{\\*\\unknown{nested}text}a{\\*\\panose 00}b}",
     {"ab"}},
    {"KnownDestinationsSkipped",
     "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author A}}"
     "{\\pict\\wmetafile8 0123abcd}{\\header head}x}",
     {"x"}},
    {"NestedGroups", "{\\rtf1 a{b{\\b c}d}e\\par {{{f}}}}", {"abcde", "f"}},
    {"LineAndTab", "{\\rtf1 a\\line b\\tab c}", {"a", "b\tc"}},
    {"ControlSymbols",
     "{\\rtf1 a\\~b\\-c\\_d\\{\\}\\\\}",
     {QString::fromUtf16(u"a\u00A0bc\u2011d{}\\")}},
    {"PardAndFormatting",
     "{\\rtf1\\pard\\b bold\\b0\\i  it\\i0\\par\\pard next}",
     {"bold it", "next"}},
    {"LineBreaksInSourceIgnored", "{\\rtf1 a\r\nb\nc\\par\r\n\r\n}", {"abc"}},
    {"EscapedNewlineIsPar", "{\\rtf1 a\\\nb}", {"a", "b"}},
    {"Binary", "{\\rtf1 a{\\*\\blob\\bin4 }{\\}}b\\bin3 {{{c}", {"abc"}},
    {"BinaryLongerThanFile", "{\\rtf1 a\\bin999999 xyz", {"a"}},
    {"Windows1252", "{\\rtf1\\ansi caf\\'e9 \\'80}", {QStringLiteral("café €")}},
    {"FontCharsetSelectsGbk",
     "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fnil\\fcharset134 "
     "SimSun;}}\\f0 caf\\'e9 \\f1\\'b2\\'e2\\f0 \\'e9}",
     {QStringLiteral("café 测é")}},
    {"FontTableWithoutEntryGroups",
     "{\\rtf1\\ansicpg1252{\\fonttbl\\f0\\fnil\\fcharset134 A;\\f1\\fnil\\fcharset0 B;}"
     "\\f0\\'b2\\'e2\\f1\\'e9}",
     {QStringLiteral("测é")}},
    {"RawHighBytesAndAsciiTrailByte",
     "{\\rtf1\\ansicpg936 \xB2\xE2\x81@}",
     {QStringLiteral("测丂")}},
    {"NamedCharacters",
     "{\\rtf1\\ldblquote x\\rdblquote\\emdash\\bullet}",
     {QString::fromUtf16(u"\u201Cx\u201D\u2014\u2022")}},
    {"Field", "{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"u\"}{\\fldrslt link}}}", {"link"}},
    {"TextAfterDocumentIgnored", "{\\rtf1 a}b\\par c", {"a"}},
    {"NegativeAndHugeParameters",
     "{\\rtf1\\fs-5\\f99999999999999999999 a\\uc-3\\u70000?b}",
     {QString::fromUtf16(u"a\u1170?b")}},
    {"DamagedHexEscape", "{\\rtf1 a\\'zq\\'4}", {"azq4"}},
    {"BackslashAtEnd", "{\\rtf1 a\\", {"a"}},
};

TEST_P(RtfRead, ByteByByteReadsAlike) {
    const ReadCase& c = GetParam();
    bool isRtf = false;
    EXPECT_EQ(ReadInPieces(c.rtf, 1, &isRtf), c.lines);
    EXPECT_TRUE(isRtf);
}

INSTANTIATE_TEST_SUITE_P(Cases, RtfRead, ::testing::ValuesIn(readCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RtfReadStyle, HistoryFilesWithAndWithoutTheMakersNameReadAlike) {
    const QStringList lines{"  00000000:  00 FF 41", "", QStringLiteral("通讯端口")};
    const QByteArray named = WriteRtf(lines, PaneStyle());
    QByteArray unnamed = named;
    unnamed.replace(GeneratorGroup, "");
    ASSERT_NE(unnamed, named);
    for (const QByteArray& rtf : {named, unnamed}) {
        RtfStyle style;
        EXPECT_EQ(Read(rtf, nullptr, &style), lines) << rtf.constData();
        EXPECT_EQ(style.FontName, QStringLiteral("宋体"));
        EXPECT_EQ(style.TextColor, QColor(255, 255, 255));
        EXPECT_EQ(style.BackColor, QColor(0, 0, 0));
        EXPECT_EQ(style.FontSize, 9);
    }
}

TEST(RtfReadStyle, StyleWhereTextBegins) {
    RtfStyle style;
    Read("{\\rtf1\\ansicpg936\\deff1{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset134 "
         "\\'cb\\'ce\\'cc\\'e5;}}{\\colortbl;\\red1\\green2\\blue3;\\red4\\green5\\blue6;}"
         "\\pard\\cf2\\cb1\\fs24 x\\cf1 y}",
         nullptr, &style);
    EXPECT_EQ(style.FontName, QStringLiteral("宋体"));
    EXPECT_EQ(style.TextColor, QColor(4, 5, 6));
    EXPECT_EQ(style.BackColor, QColor(1, 2, 3));
    EXPECT_EQ(style.FontSize, 12);
}

TEST(RtfReadStyle, ColourIndexOutOfTableIsAutomatic) {
    RtfStyle style;
    Read("{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\cf7\\highlight-1 x}", nullptr, &style);
    EXPECT_FALSE(style.TextColor.isValid());
    EXPECT_FALSE(style.BackColor.isValid());
}

// --- Damaged, hostile and plain input ------------------------------------------------------

TEST(RtfDamaged, TruncatedDocumentKeepsWhatWasRead) {
    const QByteArray full = WriteRtf({QStringLiteral("第一行"), "second", "third"}, PaneStyle());
    bool isRtf = false;
    // Cut inside the last line and inside a \'hh escape of the first line.
    const qsizetype third = full.indexOf("third");
    EXPECT_EQ(Read(full.left(third + 3), &isRtf),
              (QStringList{QStringLiteral("第一行"), "second", "thi"}));
    EXPECT_TRUE(isRtf);
    const qsizetype escape = full.indexOf("\\'", full.indexOf("\\fs"));
    EXPECT_EQ(Read(full.left(escape + 2), &isRtf), QStringList{});
    EXPECT_TRUE(isRtf);
    // Every prefix reads without trouble.
    for (qsizetype n = 0; n <= full.size(); ++n)
        Read(full.left(n));
}

TEST(RtfDamaged, DeepNestingFallsBackToPlainText) {
    QByteArray rtf = "{\\rtf1 ";
    rtf += QByteArray(RtfMaxDepth + 10, '{');
    rtf += "x";
    bool isRtf = true;
    const QStringList lines = Read(rtf, &isRtf);
    EXPECT_FALSE(isRtf);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first(), QString::fromLatin1(rtf));
}

TEST(RtfDamaged, NestingJustWithinLimitIsRtf) {
    QByteArray rtf = "{\\rtf1 ";
    rtf += QByteArray(RtfMaxDepth - 1, '{') + "x" + QByteArray(RtfMaxDepth, '}');
    bool isRtf = false;
    EXPECT_EQ(Read(rtf, &isRtf), QStringList{"x"});
    EXPECT_TRUE(isRtf);
}

TEST(RtfDamaged, ManyGroupsAndParagraphsStayLinear) {
    // A million small groups and paragraphs: must finish promptly and give every line.
    QByteArray rtf = "{\\rtf1 ";
    for (int i = 0; i < 200000; ++i)
        rtf += "{\\b x}\\par ";
    rtf += "}";
    EXPECT_EQ(Read(rtf).size(), 200000);
}

struct PlainCase {
    const char* name;
    QByteArray data;
    QStringList lines;
};

class PlainText : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainText, ReadAsPlainText) {
    const PlainCase& c = GetParam();
    bool isRtf = true;
    EXPECT_EQ(Read(c.data, &isRtf), c.lines);
    EXPECT_FALSE(isRtf);
}

const PlainCase plainCases[] = {
    {"Empty", "", {}},
    {"OneLineNoBreak", "55 AA", {"55 AA"}},
    {"CrLf", "a\r\nb\r\n", {"a", "b"}},
    {"Lf", "a\nb\n", {"a", "b"}},
    {"Cr", "a\rb", {"a", "b"}},
    {"MixedBreaks", "a\r\n\nb\r\rc", {"a", "", "b", "", "c"}},
    {"OnlyOneTrailingEmptyDropped", "a\n\n", {"a", ""}},
    {"OnlyBreak", "\n", {""}},
    {"Utf8", "通讯端口\n测试版", {QStringLiteral("通讯端口"), QStringLiteral("测试版")}},
    {"Utf8Bom", "\xEF\xBB\xBFx", {"x"}},
    {"ByteOrderMarkKeptPastTheStart",
     "\xEF\xBB\xBFx\n\xEF\xBB\xBFy",
     {"x", QChar(0xFEFF) + QStringLiteral("y")}},
    {"Gbk",
     "\xCD\xA8\xD1\xB6\xB6\xCB\xBF\xDA\r\n\xB2\xE2\xCA\xD4\xB0\xE6",
     {QStringLiteral("通讯端口"), QStringLiteral("测试版")}},
    {"DamagedGbkKeepsLines",
     "a\xB2\nb\xFF\n",
     {QString::fromUtf16(u"a\uFFFD"), QString::fromUtf16(u"b\uFFFD")}},
    {"RtfLookalike", "{\\rt", {"{\\rt"}},
    {"RtfNotAtStart", " {\\rtf1 x}", {" {\\rtf1 x}"}},
};

TEST_P(PlainText, ByteByByteReadsAlike) {
    const PlainCase& c = GetParam();
    bool isRtf = true;
    EXPECT_EQ(ReadInPieces(c.data, 1, &isRtf), c.lines);
    EXPECT_FALSE(isRtf);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlainText, ::testing::ValuesIn(plainCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Files ---------------------------------------------------------------------------------

TEST(RtfFiles, SaveThenLoad) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("历史.kst"));
    const QStringList lines{"  00000000:  41", QStringLiteral("测试版")};
    ASSERT_TRUE(SaveRtfFile(name, lines, PaneStyle()));
    QStringList read{"old"};
    bool isRtf = false;
    RtfStyle style;
    ASSERT_TRUE(LoadRtfFile(name, read, &isRtf, &style));
    EXPECT_EQ(read, lines);
    EXPECT_TRUE(isRtf);
    EXPECT_EQ(style.FontName, QStringLiteral("宋体"));
}

TEST(RtfFiles, FailedSaveKeepsOldFile) {
    QTemporaryDir dir;
    const QString name = dir.filePath("a.cmd");
    ASSERT_TRUE(SaveRtfFile(name, {"first"}, RtfStyle()));
    EXPECT_FALSE(SaveRtfFile(dir.filePath("missing/dir/a.cmd"), {"x"}, RtfStyle()));
    QStringList lines;
    ASSERT_TRUE(LoadRtfFile(name, lines));
    EXPECT_EQ(lines, QStringList{"first"});
    // A file that cannot be read leaves the lines as they were.
    EXPECT_FALSE(LoadRtfFile(dir.filePath("none.kst"), lines));
    EXPECT_EQ(lines, QStringList{"first"});
}

} // namespace
