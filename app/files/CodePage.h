#pragma once

// The one place where byte text in code page 936 (GBK) meets Qt's Unicode strings, through
// glibc's iconv. Every function is safe on any thread: each thread keeps its own converters.
//
// glibc's CP936 is its GBK table plus the euro sign at 0x80, as Windows has it; both directions
// map U+20AC <-> 0x80. Bytes 0x00-0x7F are ASCII both ways.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <cstdint>
#include <string>

// Encodes text as code page 936. Characters without a code (emoji, most accented Latin letters
// outside the table, unpaired surrogates) come out as "?" and make *ok false, so that a caller
// can refuse the text instead of writing a changed one. *ok is true when every character has a
// code.
QByteArray ToCodePage(const QString& text, bool* ok = nullptr);

// Decodes code page 936 bytes. A byte that does not begin a valid character (a lone lead byte,
// 0xFF, a lead byte before a line break) becomes U+FFFD and decoding goes on with the next
// byte, so line breaks and the bytes after a damaged character are never lost.
QString FromCodePage(QByteArrayView bytes);

// The UTF-8 of one code page 936 pair, or empty when the pair is not a character: the decoder
// TTextRender is given.
std::string CodePagePairUtf8(uint8_t lead, uint8_t trail);

// Whether c is one of code page 936's two-byte characters (every Chinese character, but also
// symbols such as ℃, box drawing, pinyin letters): text that came as bytes gives each two
// cells. Built once, on first use, from the whole table.
bool IsCodePagePairChar(char32_t c);

// Whether a character or a whole text has a code in code page 936.
bool IsCodePageChar(QChar c);
bool IsCodePageText(const QString& text);

// Decodes bytes of a Windows code page (936, 1252, 932, 950, ...), as rich text files name them.
// 936 goes through FromCodePage; a page that iconv does not know falls back to Windows-1252.
QString FromWindowsCodePage(QByteArrayView bytes, int codePage);
