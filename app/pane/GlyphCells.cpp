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
    m_budget = INT_MAX;
    Forget();
}

void TGlyphCells::Forget() {
    m_ascii.fill(Unknown);
    m_asciiColours.assign(m_usable ? 128 * size_t(m_width) * size_t(m_height) + Spare : 0, 0);
    m_bmp.clear();
    m_others.clear();
    m_pixels.clear();
    m_palette.clear();
    m_palette.reserve(256); // Palette() stays where it is
    m_colours.clear();
}

size_t TGlyphCells::Known() const {
    const auto known = [](int64_t at) { return at != Unknown; };
    return size_t(std::count_if(m_ascii.begin(), m_ascii.end(), known)) +
           size_t(std::count_if(m_bmp.begin(), m_bmp.end(), known)) + m_others.size();
}

const uint8_t* TGlyphCells::Cell(char32_t c, int cells) {
    if (!m_usable || cells < 1 || cells > 2)
        return nullptr;
    int64_t at = Unknown;
    if (c < 128) {
        at = m_ascii[c];
    } else if (c < 0x10000) {
        if (m_bmp.empty())
            m_bmp.assign(0x10000, int32_t(Unknown));
        at = m_bmp[c];
    } else if (auto found = m_others.find(c); found != m_others.end()) {
        at = found->second;
    }
    if (at == Unknown) {
        if (m_budget <= 0 || (c >= 128 && m_pixels.size() >= MaxPixels))
            return nullptr;
        --m_budget;
        at = Draw(c, cells);
        if (c < 128) {
            m_ascii[c] = at;
            if (at != NoCell && cells == 1) { // its colours, for AsciiPixels
                const size_t pixels = size_t(m_width) * size_t(m_height);
                for (size_t i = 0; i < pixels; ++i)
                    m_asciiColours[c * pixels + i] = m_palette[m_pixels[size_t(at) + i]];
            }
        } else if (c < 0x10000)
            m_bmp[c] = int32_t(at);
        else
            m_others.emplace(c, at);
    }
    return at == NoCell ? nullptr : m_pixels.data() + at;
}

const uint32_t* TGlyphCells::AsciiPixels(char32_t c) {
    if (c >= 128 || Cell(c, 1) == nullptr)
        return nullptr;
    return m_asciiColours.data() + c * size_t(m_width) * size_t(m_height);
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
    const int columns = scratch.width();
    for (int row = 0; row < scratch.height(); ++row) {
        const auto* line = reinterpret_cast<const uint32_t*>(scratch.constScanLine(row));
        const bool inRows = row >= pad && row < pad + m_height;
        for (int col = 0; col < columns; ++col)
            if (line[col] != back && !(inRows && col >= pad && col < pad + width))
                return NoCell;
    }
    const size_t at = m_pixels.size();
    const size_t colours = m_palette.size();
    m_pixels.resize(at + size_t(width) * size_t(m_height));
    uint8_t* out = m_pixels.data() + at;
    for (int row = 0; row < m_height; ++row) {
        const auto* line =
            reinterpret_cast<const uint32_t*>(scratch.constScanLine(pad + row)) + pad;
        for (int col = 0; col < width; ++col) {
            auto [found, added] = m_colours.try_emplace(line[col], uint8_t(m_palette.size()));
            if (added) {
                if (m_palette.size() == 256) { // a glyph in colours of its own: take it back
                    for (size_t i = colours; i < m_palette.size(); ++i)
                        m_colours.erase(m_palette[i]);
                    m_colours.erase(found);
                    m_palette.resize(colours);
                    m_pixels.resize(at);
                    return NoCell;
                }
                m_palette.push_back(line[col]);
            }
            *out++ = found->second;
        }
    }
    return int64_t(at);
}
