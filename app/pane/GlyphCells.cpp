#include "GlyphCells.h"

#include <QGlyphRun>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

void TGlyphCells::Reset(const QRawFont& font, qreal cellWidth, int lineHeight, int ascent,
                        QColor text, QColor background) {
    m_font = font;
    m_text = text;
    m_background = background;
    m_width = int(std::lround(cellWidth));
    m_height = lineHeight;
    m_ascent = ascent;
    m_usable = font.isValid() && m_width >= 1 && m_height >= 1 &&
               std::abs(cellWidth - m_width) < 1e-9 && text.alpha() == 255 &&
               background.alpha() == 255;
    Forget();
}

void TGlyphCells::Forget() {
    m_ascii.fill(Unknown);
    m_others.clear();
    m_pixels.clear();
}

size_t TGlyphCells::Known() const {
    return size_t(std::count_if(m_ascii.begin(), m_ascii.end(),
                                [](int64_t at) { return at != Unknown; })) +
           m_others.size();
}

const uint32_t* TGlyphCells::Cell(char32_t c, int cells) {
    if (!m_usable || cells < 1 || cells > 2)
        return nullptr;
    int64_t* at;
    if (c < 128) {
        at = &m_ascii[c];
    } else {
        auto found = m_others.find(c);
        if (found == m_others.end()) {
            if (m_budget <= 0)
                return nullptr;
            if (m_pixels.size() >= MaxPixels)
                Forget();
            found = m_others.emplace(c, Unknown).first;
        }
        at = &found->second;
    }
    if (*at == Unknown) {
        if (m_budget <= 0)
            return nullptr;
        --m_budget;
        *at = Draw(c, cells);
    }
    return *at == NoCell ? nullptr : m_pixels.data() + *at;
}

// Draws c with room around its cells, and keeps it when nothing of the
// glyph lies outside them.
int64_t TGlyphCells::Draw(char32_t c, int cells) {
    const QList<quint32> glyphs = m_font.glyphIndexesForString(QString::fromUcs4(&c, 1));
    if (glyphs.size() != 1 || glyphs[0] == 0)
        return NoCell;
    const int width = m_width * cells;
    const int pad = std::max(width, m_height);
    QImage scratch(width + 2 * pad, m_height + 2 * pad, QImage::Format_RGB32);
    scratch.fill(m_background);
    {
        QPainter painter(&scratch);
        painter.setPen(m_text);
        QGlyphRun glyph;
        glyph.setRawFont(m_font);
        glyph.setGlyphIndexes({glyphs[0]});
        glyph.setPositions({QPointF(pad, 0)});
        painter.drawGlyphRun(QPointF(0, pad + m_ascent), glyph);
    }
    const uint32_t back = m_background.rgb();
    for (int row = 0; row < scratch.height(); ++row) {
        const auto* line = reinterpret_cast<const uint32_t*>(scratch.constScanLine(row));
        const bool inRows = row >= pad && row < pad + m_height;
        for (int col = 0; col < scratch.width(); ++col)
            if (line[col] != back && !(inRows && col >= pad && col < pad + width))
                return NoCell;
    }
    const int64_t at = int64_t(m_pixels.size());
    m_pixels.resize(m_pixels.size() + size_t(width) * size_t(m_height));
    for (int row = 0; row < m_height; ++row)
        std::memcpy(m_pixels.data() + at + int64_t(row) * width,
                    reinterpret_cast<const uint32_t*>(scratch.constScanLine(pad + row)) + pad,
                    size_t(width) * sizeof(uint32_t));
    return at;
}
