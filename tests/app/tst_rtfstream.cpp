#include "Rtfstream.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

QStringList ReadInPieces(QByteArrayView data, size_t piece, bool* isRtf, RtfStyle* style,
                         int* restarts) {
    TRtfStreamReader reader;
    TRecordingSink sink;
    const auto pass = [&] {
        for (qsizetype at = 0; at < data.size(); at += static_cast<qsizetype>(piece)) {
            const size_t n = std::min(piece, static_cast<size_t>(data.size() - at));
            if (!reader.Feed(data.data() + at, n, sink))
                return false;
        }
        return reader.Finish(sink);
    };
    int passes = 0;
    while (!pass())
        EXPECT_LE(++passes, 2) << "a reader starts over twice at most";
    if (isRtf != nullptr)
        *isRtf = reader.IsRtf();
    if (style != nullptr)
        *style = reader.Style();
    if (restarts != nullptr)
        *restarts = sink.Restarts;
    return sink.Lines;
}

namespace {

const QStringList MixedLines{
    "  00000000:  00 FF 7B 5C 7D 41 0D 0A                          ..{\\}A..        ",
    QStringLiteral("通讯端口\t测试版"),
    "C:\\dir\\{x}",
    "",
    QStringLiteral("A😀B € ü"),
};

// Whole documents read alike however they are cut; both readers state the same style.
void ExpectSameInPieces(const QByteArray& data) {
    bool wholeRtf = false;
    RtfStyle wholeStyle;
    const QStringList whole = ReadRtf(data, &wholeRtf, &wholeStyle);
    for (const size_t piece : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(4096)}) {
        bool isRtf = !wholeRtf;
        RtfStyle style;
        EXPECT_EQ(ReadInPieces(data, piece, &isRtf, &style), whole) << "pieces of " << piece;
        EXPECT_EQ(isRtf, wholeRtf);
        EXPECT_EQ(style.FontName, wholeStyle.FontName);
        EXPECT_EQ(style.TextColor, wholeStyle.TextColor);
        EXPECT_EQ(style.BackColor, wholeStyle.BackColor);
        EXPECT_EQ(style.FontSize, wholeStyle.FontSize);
    }
}

// --- Writer --------------------------------------------------------------------------------

TEST(RtfStreamWriter, PiecesAreTheDocumentAsItWasAlwaysWritten) {
    RtfStyle odd;
    odd.FontName = QStringLiteral("Odd;{Font}\\测");
    odd.FontSize = 100000;
    odd.TextColor = QColor(1, 2, 3);
    const QByteArray body =
        "  00000000:  00 FF 7B 5C 7D 41 0D 0A                          ..\\{\\\\\\}A..        \\par\r\n"
        "\\'cd\\'a8\\'d1\\'b6\\'b6\\'cb\\'bf\\'da\\tab \\'b2\\'e2\\'ca\\'d4\\'b0\\'e6\\par\r\n"
        "C:\\\\dir\\\\\\{x\\}\\par\r\n"
        "\\par\r\n"
        "A\\u-10179?\\u-8704?B \\'80 \\'a8\\'b9\\par\r\n"
        "nul\\'00here\\'7f\\par\r\n"
        "}\r\n";
    const struct {
        RtfStyle style;
        QByteArray document;
    } cases[] = {
        {PaneStyle(),
         "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fmodern\\fprq1"
         "\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\r\n{\\colortbl ;\\red255\\green255\\blue255;\\red0"
         "\\green0\\blue0;}\r\n{\\*\\generator Kestrel " KESTREL_VERSION ";}\\viewkind4\\uc1\\pard\\cf1"
         "\\highlight2\\f0\\fs18 " + body},
        {odd,
         "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fmodern\\fprq1"
         "\\fcharset134 Odd\\'3b\\{Font\\}\\\\\\'b2\\'e2;}}\r\n{\\colortbl ;\\red1\\green2\\blue3;}\r\n"
         "{\\*\\generator Kestrel " KESTREL_VERSION ";}\\viewkind4\\uc1\\pard\\cf1\\f0\\fs3276 " + body},
    };
    const QStringList lines = MixedLines + QStringList{QString::fromLatin1("nul\0here\x7f", 9)};
    for (const auto& c : cases) {
        const TRtfWriter writer(c.style);
        std::string out;
        writer.Head(out);
        for (const QString& line : lines)
            writer.AppendLine(out, line.toStdString());
        out += TRtfWriter::Tail();
        EXPECT_EQ(QByteArray::fromStdString(out), c.document);
        EXPECT_EQ(WriteRtf(lines, c.style), c.document);
    }
}

TEST(RtfStreamWriter, InvalidUtf8IsWrittenAsReplacementCharacter) {
    const TRtfWriter writer{RtfStyle()};
    for (const std::string_view bad : {std::string_view("a\xFF" "b"), std::string_view("a\xE6\xB5" "b"),
                                       std::string_view("a\xED\xA0\x80" "b"), std::string_view("a\xC0\xAF" "b")}) {
        std::string out;
        writer.AppendLine(out, bad);
        EXPECT_EQ(out.substr(0, 1), "a");
        EXPECT_NE(out.find("\\u-3?"), std::string::npos) << out;
        EXPECT_EQ(out.substr(out.size() - 7), "b\\par\r\n") << out;
    }
}

// --- Reader in pieces ----------------------------------------------------------------------

TEST(RtfStreamReader, WrittenDocumentsReadAlikeInAnyPieces) {
    ExpectSameInPieces(WriteRtf(MixedLines, PaneStyle()));
    ExpectSameInPieces(WriteRtf({}, RtfStyle()));
    EXPECT_EQ(ReadInPieces(WriteRtf(MixedLines, PaneStyle()), 1), MixedLines);
}

TEST(RtfStreamReader, TokensCutAtEveryPlace) {
    // Each document cut in two at every byte: words, numbers, escapes and \bin data straddle.
    const QByteArray documents[] = {
        "{\\rtf1\\ansicpg936{\\fonttbl{\\f0\\fcharset134 \\'cb\\'ce;}}\\uc2\\u27979\\'9c\\'79z"
        "\\fs-24 \\bin3 {}}x\\'4}\\par\\'b2\\'e2\\u-10179?\\u-8704?}",
        "{\\rtf1 a\\verylongcontrolwordthatnoreaderknowsatallreally-x\\u70000?b\\uc0\\u0 c\\",
        "{\\rtf1 ab\\'4",
        "{\\rtf1 ab\\par-",
        "{\\rtf1 \\fs99999999999999999999999",
        "{\\rtf1\\ansicpg936 \xB2\xE2\x81@\\\r\n}",
    };
    for (const QByteArray& doc : documents) {
        const QStringList whole = ReadRtf(doc);
        for (qsizetype cut = 0; cut <= doc.size(); ++cut) {
            TRtfStreamReader reader;
            TRecordingSink sink;
            ASSERT_TRUE(reader.Feed(doc.data(), static_cast<size_t>(cut), sink));
            ASSERT_TRUE(reader.Feed(doc.data() + cut, static_cast<size_t>(doc.size() - cut), sink));
            ASSERT_TRUE(reader.Finish(sink));
            EXPECT_EQ(sink.Lines, whole) << doc.constData() << " cut at " << cut;
        }
    }
}

TEST(RtfStreamReader, HostileInputStaysBounded) {
    QByteArray fonts = "{\\rtf1{\\fonttbl";
    for (int i = 0; i < 20000; ++i)
        fonts += "{\\f" + QByteArray::number(i) + " F;}";
    fonts += "}{\\colortbl" + QByteArray(20000, ';') + "}\\f19999\\cf19999 x}";
    QByteArray word = "{\\rtf1 a\\" + QByteArray(100000, 'q') + " b}";
    const QByteArray bin = "{\\rtf1 a\\bin2000000000 xyz";
    const QByteArray nul = QByteArray("{\\rtf1 a\0b\\'00c}", 16);
    for (const QByteArray& doc : {fonts, word, bin, nul})
        ExpectSameInPieces(doc);
    EXPECT_EQ(ReadRtf(fonts), QStringList{"x"});
    EXPECT_EQ(ReadRtf(word), QStringList{"ab"});
    EXPECT_EQ(ReadRtf(bin), QStringList{"a"});
    EXPECT_EQ(ReadRtf(nul), QStringList{QString::fromLatin1("ab\0c", 4)});
}

TEST(RtfStreamReader, LongDoubleByteRunsDecodeWhole) {
    // Several MiB of GBK text in one paragraph: the run is decoded a MiB or so at a time, cut
    // after a blank, and no character is split.
    QByteArray rtf = "{\\rtf1\\ansicpg936 ";
    QString expected;
    for (int i = 0; i < 500000; ++i)
        rtf += "\xB2\xE2\xCA\xD4 ";
    for (int i = 0; i < 500000; ++i)
        expected += QStringLiteral("测试 ");
    rtf += "}";
    EXPECT_EQ(ReadRtf(rtf), QStringList{expected});
    EXPECT_EQ(ReadInPieces(rtf, 1 << 16), QStringList{expected});
}

TEST(RtfStreamReader, OverlongLineIsCutBetweenCharacters) {
    QByteArray data(static_cast<qsizetype>(RtfMaxLineBytes) - 1, 'a');
    data += "测bc\nnext";
    TRtfStreamReader reader(true);
    std::vector<size_t> sizes;
    std::string tail;
    class : public TRtfLineSink {
    public:
        void Line(std::string_view utf8) override {
            sizes->push_back(utf8.size());
            *last = std::string(utf8.substr(0, 8));
        }
        void Restart() override { ADD_FAILURE(); }
        std::vector<size_t>* sizes;
        std::string* last;
    } sink;
    sink.sizes = &sizes;
    sink.last = &tail;
    ASSERT_TRUE(reader.Feed(data.data(), static_cast<size_t>(data.size()), sink));
    ASSERT_TRUE(reader.Finish(sink));
    EXPECT_EQ(sizes, (std::vector<size_t>{RtfMaxLineBytes - 1, 5, 4}));
    EXPECT_EQ(tail, "next");
}

// --- Starting over -------------------------------------------------------------------------

TEST(RtfStreamRestart, DeepNestingLateInTheDocumentIsReadAsPlainText) {
    QByteArray rtf = "{\\rtf1 ";
    for (int i = 0; i < 1000; ++i)
        rtf += "line\\par\n";
    rtf += QByteArray(RtfMaxDepth + 5, '{');
    int restarts = 0;
    bool isRtf = true;
    RtfStyle style;
    style.FontSize = 3;
    const QStringList lines = ReadInPieces(rtf, 100, &isRtf, &style, &restarts);
    EXPECT_EQ(restarts, 1);
    EXPECT_FALSE(isRtf);
    EXPECT_EQ(style.FontSize, 0);
    EXPECT_EQ(lines, ReadPlainText(rtf));
    EXPECT_EQ(lines.size(), 1001);

    // The same with a byte that is not UTF-8: plain text, then code page 936.
    rtf.insert(7, "\xB2\xE2");
    EXPECT_EQ(ReadInPieces(rtf, 100, &isRtf, nullptr, &restarts).first(),
              QStringLiteral("{\\rtf1 测line\\par"));
    EXPECT_EQ(restarts, 2);
}

TEST(RtfStreamRestart, FeedAsksForTheDataAgainAndStopsReadingThePiece) {
    const QByteArray text = "first\nsecond\n\xB2\xE2\n";
    TRtfStreamReader reader;
    TRecordingSink sink;
    EXPECT_TRUE(reader.Feed(text.data(), 13, sink));
    EXPECT_EQ(sink.Lines, (QStringList{"first", "second"}));
    EXPECT_FALSE(reader.Feed(text.data() + 13, 3, sink));
    EXPECT_EQ(sink.Restarts, 1);
    EXPECT_TRUE(sink.Lines.isEmpty());
    EXPECT_TRUE(reader.Feed(text.data(), static_cast<size_t>(text.size()), sink));
    EXPECT_TRUE(reader.Finish(sink));
    EXPECT_EQ(sink.Lines, (QStringList{"first", "second", QStringLiteral("测")}));
    EXPECT_FALSE(reader.IsRtf());
}

TEST(RtfStreamRestart, CharacterCutOffAtTheEndIsNotUtf8) {
    TRtfStreamReader reader;
    TRecordingSink sink;
    EXPECT_TRUE(reader.Feed("ab\xE6", 3, sink));
    EXPECT_FALSE(reader.Finish(sink));
    EXPECT_EQ(sink.Restarts, 1);
    EXPECT_EQ(ReadPlainText("ab\xE6"), QStringList{QString::fromUtf16(u"ab\uFFFD")});
}

// --- Files ---------------------------------------------------------------------------------

TFileResult SaveLines(const QString& name, const QStringList& lines, const TFileProgress& progress) {
    return SaveRtfStream(name, PaneStyle(), lines.size(),
                         [&](int64_t k, std::string& scratch) -> std::string_view {
                             scratch = lines[static_cast<qsizetype>(k)].toStdString();
                             return scratch;
                         },
                         progress);
}

TEST(RtfStreamFiles, SaveThenLoad) {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("历史.kst"));
    QStringList lines = MixedLines;
    for (int i = 0; i < 30000; ++i) // a few MiB: several blocks each way
        lines += QStringLiteral("  %1:  7B 5C 7D 00 FF  {\\}..\t测").arg(i, 8, 16, QChar('0'));
    int64_t lastDone = -1, lastTotal = -1;
    int calls = 0;
    const auto progress = [&](int64_t done, int64_t total) {
        EXPECT_LE(done, total);
        lastDone = done;
        lastTotal = total;
        ++calls;
        return true;
    };
    ASSERT_EQ(SaveLines(name, lines, progress), TFileResult::Ok);
    EXPECT_GT(calls, 1);
    EXPECT_EQ(lastDone, lines.size());
    EXPECT_EQ(lastTotal, lines.size());

    TRecordingSink sink;
    bool isRtf = false;
    RtfStyle style;
    calls = 0;
    ASSERT_EQ(LoadRtfStream(name, sink, progress, &isRtf, &style), TFileResult::Ok);
    EXPECT_EQ(sink.Lines, lines);
    EXPECT_TRUE(isRtf);
    EXPECT_EQ(style.FontName, QStringLiteral("宋体"));
    EXPECT_EQ(style.TextColor, QColor(255, 255, 255));
    EXPECT_GT(calls, 1);
    EXPECT_EQ(lastDone, QFileInfo(name).size());
    EXPECT_EQ(lastTotal, lastDone);
}

TEST(RtfStreamFiles, CancelledOrFailedSaveLeavesOldFile) {
    QTemporaryDir dir;
    const QString name = dir.filePath("a.kst");
    ASSERT_EQ(SaveLines(name, {"old"}, nullptr), TFileResult::Ok);
    const QStringList many(100000, QStringLiteral("  00000000:  41 42 43"));
    EXPECT_EQ(SaveLines(name, many, [](int64_t, int64_t) { return false; }), TFileResult::Cancelled);
    EXPECT_EQ(SaveLines(dir.filePath("missing/a.kst"), many, nullptr), TFileResult::Failed);
    TRecordingSink sink;
    ASSERT_EQ(LoadRtfStream(name, sink, nullptr), TFileResult::Ok);
    EXPECT_EQ(sink.Lines, QStringList{"old"});
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.kst"}) << "no temporary left";
}

TEST(RtfStreamFiles, MissingFileFailsAndCancelStops) {
    QTemporaryDir dir;
    TRecordingSink sink;
    bool isRtf = true;
    EXPECT_EQ(LoadRtfStream(dir.filePath("none.kst"), sink, nullptr, &isRtf), TFileResult::Failed);
    EXPECT_TRUE(isRtf) << "left as it was";
    const QString name = dir.filePath("a.kst");
    ASSERT_EQ(SaveLines(name, QStringList(100000, "x"), nullptr), TFileResult::Ok);
    EXPECT_EQ(LoadRtfStream(name, sink, [](int64_t, int64_t) { return false; }), TFileResult::Cancelled);
}

TEST(RtfStreamFiles, GbkLateInABigPlainFileRestartsInCodePage936) {
    QTemporaryDir dir;
    const QString name = dir.filePath("plain.txt");
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray ascii;
    for (int i = 0; i < 100000; ++i)
        ascii += "  00000000:  41 42 43 44\r\n"; // 2.7 MB before the first GBK byte
    file.write(ascii);
    file.write("\xCD\xA8\xD1\xB6\xB6\xCB\xBF\xDA\r\nend");
    file.close();
    std::vector<int64_t> done;
    TRecordingSink sink;
    bool isRtf = true;
    ASSERT_EQ(LoadRtfStream(name, sink, [&](int64_t d, int64_t) { return done.push_back(d), true; },
                            &isRtf),
              TFileResult::Ok);
    EXPECT_FALSE(isRtf);
    EXPECT_EQ(sink.Restarts, 1);
    ASSERT_EQ(sink.Lines.size(), 100002);
    EXPECT_EQ(sink.Lines[0], "  00000000:  41 42 43 44");
    EXPECT_EQ(sink.Lines[100000], QStringLiteral("通讯端口"));
    EXPECT_EQ(sink.Lines[100001], "end");
    EXPECT_FALSE(std::is_sorted(done.begin(), done.end())) << "done starts again at 0";
    EXPECT_EQ(done.back(), QFileInfo(name).size());
}

} // namespace
