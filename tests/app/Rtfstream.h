#pragma once
// Reading a document through TRtfStreamReader in pieces of one size, as a file load would, for
// comparing with the whole-document reader.

#include "Rtf.h"

#include <QStringDecoder>

inline RtfStyle PaneStyle() {
    RtfStyle style;
    style.FontName = QStringLiteral("宋体");
    style.TextColor = QColor(255, 255, 255);
    style.BackColor = QColor(0, 0, 0);
    style.FontSize = 9;
    return style;
}

class TRecordingSink : public TRtfLineSink {
public:
    void Line(std::string_view utf8) override {
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        Lines.append(decode(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size()))));
    }
    void Restart() override {
        Lines.clear();
        ++Restarts;
    }
    QStringList Lines;
    int Restarts = 0;
};

// Feeds data in pieces of piece bytes (the last may be shorter), again from the start each time
// the reader asks for it.
QStringList ReadInPieces(QByteArrayView data, size_t piece, bool* isRtf = nullptr,
                         RtfStyle* style = nullptr, int* restarts = nullptr);
