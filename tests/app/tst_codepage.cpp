#include "CodePage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct RoundTripCase {
    const char* name;
    QString text;
    QByteArray bytes;
};

class CodePageRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CodePageRoundTrip, EncodesAndDecodesBothWays) {
    const RoundTripCase& c = GetParam();
    bool ok = false;
    EXPECT_EQ(ToCodePage(c.text, &ok), c.bytes);
    EXPECT_TRUE(ok);
    EXPECT_EQ(FromCodePage(c.bytes), c.text);
    EXPECT_TRUE(IsCodePageText(c.text));
}

const RoundTripCase roundTripCases[] = {
    {"Empty", QString(), QByteArray()},
    {"Ascii", QStringLiteral("COM1 9600,N"), QByteArray("COM1 9600,N")},
    {"ControlAndDel", QString::fromLatin1("\0\t\r\n\x7F", 5), QByteArray("\0\t\r\n\x7F", 5)},
    {"Port", QStringLiteral("通讯端口"), QByteArray("\xCD\xA8\xD1\xB6\xB6\xCB\xBF\xDA")},
    {"Beta", QStringLiteral("测试版"), QByteArray("\xB2\xE2\xCA\xD4\xB0\xE6")},
    {"Mixed", QStringLiteral("Kestrel 0.6测试版"),
     QByteArray("Kestrel 0.6\xB2\xE2\xCA\xD4\xB0\xE6")},
    // Windows' code page 936 has the euro at 0x80, and so has glibc's CP936.
    {"Euro", QStringLiteral("€"), QByteArray("\x80")},
    {"FullWidthColon", QStringLiteral("接收字符数:"),
     QByteArray("\xBD\xD3\xCA\xD5\xD7\xD6\xB7\xFB\xCA\xFD:")},
};

INSTANTIATE_TEST_SUITE_P(Cases, CodePageRoundTrip, ::testing::ValuesIn(roundTripCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CodePageEncode, UnrepresentableCharactersAreReported) {
    bool ok = true;
    // U+1F600 is two UTF-16 units; each becomes one "?" so the caller sees where the text broke.
    const QByteArray bytes = ToCodePage(QStringLiteral("A😀B"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(bytes, QByteArray("A??B"));
    EXPECT_FALSE(IsCodePageText(QStringLiteral("😀")));
    EXPECT_FALSE(IsCodePageChar(QChar(0x0E01))); // Thai
    EXPECT_TRUE(IsCodePageChar(QChar(u'宋')));
    EXPECT_TRUE(IsCodePageChar(QChar(u'A')));
}

TEST(CodePageEncode, UnpairedSurrogatesAreReported) {
    bool ok = true;
    QString text = QStringLiteral("x");
    text.append(QChar(0xD800));
    EXPECT_EQ(ToCodePage(text, &ok), QByteArray("x?"));
    EXPECT_FALSE(ok);
    text.append(QStringLiteral("测"));
    EXPECT_EQ(ToCodePage(text, &ok), QByteArray("x?\xB2\xE2"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(ToCodePage(QString(QChar(0xDC00)) + "y", &ok), QByteArray("?y"));
    EXPECT_FALSE(ok);
}

TEST(CodePageDecode, DamagedBytesBecomeReplacementAndKeepLines) {
    // A lead byte before a line break, a lone 0xFF, and a lead byte cut off at the end.
    const QString text = FromCodePage(QByteArray("A\xB2\nB\xFF"
                                                 "C\xB2",
                                                 7));
    EXPECT_EQ(text, QString::fromUtf16(u"A\uFFFD\nB\uFFFDC\uFFFD"));
    EXPECT_EQ(text.count(u'\n'), 1);
}

TEST(CodePageDecode, OtherWindowsPages) {
    EXPECT_EQ(FromWindowsCodePage(QByteArray("caf\xE9 \x80"), 1252), QStringLiteral("café €"));
    EXPECT_EQ(FromWindowsCodePage(QByteArray("\xB2\xE2"), 936), QStringLiteral("测"));
    EXPECT_EQ(FromWindowsCodePage(QByteArray("\x82\xA0"), 932), QStringLiteral("あ"));
    // A page that does not exist falls back to Windows-1252 instead of failing.
    EXPECT_EQ(FromWindowsCodePage(QByteArray("A\xE9"), 99999), QStringLiteral("Aé"));
}

TEST(CodePagePairs, TwoByteCharactersAreKnownAndNothingElse) {
    for (const char32_t c : {U'中', U'℃', U'①', U'─', U'é', U'　', U'ａ'})
        EXPECT_TRUE(IsCodePagePairChar(c)) << uint32_t(c);
    // ASCII and the euro sign are single bytes; the rest has no code at all.
    for (const char32_t c : {U'A', U'~', U'€', U'À', U'\U0001F600', U'\uFFFD', U'\0'})
        EXPECT_FALSE(IsCodePagePairChar(c)) << uint32_t(c);
    // As many as the table has pairs that decode, and every one encodes to two bytes.
    int count = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (!IsCodePagePairChar(c))
            continue;
        ++count;
        if (count % 97 == 0) {
            bool ok = false;
            EXPECT_EQ(ToCodePage(QString(QChar(char16_t(c))), &ok).size(), 2) << uint32_t(c);
            EXPECT_TRUE(ok);
        }
    }
    EXPECT_GT(count, 21000);
    EXPECT_LT(count, 24000);
}

TEST(CodePagePairs, EachPairDecodesAsTheDecoderDecodesItAlone) {
    for (int lead = 0; lead < 256; ++lead)
        for (int trail = 0; trail < 256; ++trail) {
            const char pair[2] = {char(lead), char(trail)};
            const QString alone = FromCodePage(QByteArrayView(pair, 2));
            const bool one = alone.size() == 1 && alone[0] != QChar::ReplacementCharacter;
            ASSERT_EQ(CodePagePairUtf8(uint8_t(lead), uint8_t(trail)),
                      one ? alone.toStdString() : std::string())
                << lead << " " << trail;
        }
}

TEST(CodePageThreads, ConcurrentUseGivesSameResults) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 500; ++i) {
                bool ok = false;
                const QByteArray bytes = ToCodePage(QStringLiteral("测试版€"), &ok);
                if (!ok || FromCodePage(bytes) != QStringLiteral("测试版€") ||
                    FromWindowsCodePage("\xE9", 1252) != QStringLiteral("é"))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
