#pragma once
// TGlyphCells: characters drawn once, in one text colour on one background,
// into opaque cells of whole pixels, so that a pane of fixed-width text can
// be composed by copying pixels instead of laying out and blending every
// glyph on every paint. A character whose glyph reaches out of its cells, or
// that the font lacks, gets no cell and is drawn as text by the caller.
// The cells are exactly what QPainter draws for the glyph at a whole-pixel
// position, so the result is the same pixel for pixel. A pixel is held as an
// index into a palette of the colours the cells use (text, background and
// the blends between them; a byte instead of four), so that the few
// thousand characters of a Chinese code page fit in a few MiB. A glyph that
// would take the palette past 256 colours gets no cell.

#include <QColor>
#include <QRawFont>

#include <array>
#include <climits>
#include <cstdint>
#include <unordered_map>
#include <vector>

class TGlyphCells {
public:
    // Forgets every cell, and the budget. Cells are used only when cellWidth is a whole
    // number of pixels and both colours are opaque (Usable).
    void Reset(const QRawFont& font, qreal cellWidth, int lineHeight, int ascent, QColor text,
               QColor background);
    bool Usable() const { return m_usable; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The pixels of c drawn over cells cells (1 or 2): Width() * cells
    // columns by Height() rows, row after row, as indices into Palette();
    // nullptr when c has no cell, or when its cell is not drawn yet and the
    // budget is spent. Valid until the next call.
    const uint8_t* Cell(char32_t c, int cells);
    const uint32_t* Palette() const { return m_palette.data(); }
    // The same for an ASCII character (c < 128, one cell), as colours instead of indices: they
    // are most of what a pane shows, and a row of them is copied as it stands. Spare pixels
    // follow the last cell, so that a row may be read four pixels at a time.
    const uint32_t* AsciiPixels(char32_t c);
    static constexpr int Spare = 4;
    // How many new cells may be drawn until the next call: a cell costs far
    // more than drawing its glyph once, and a flood of random bytes shows
    // thousands of new characters on every paint.
    void SetBudget(int newCells) { m_budget = newCells; }

    // Every character seen since the last Reset, with or without a cell, and
    // the pixels held (a byte each): bounded, no new cell is drawn past
    // MaxPixels. The cells drawn until then stay: a flood of random bytes
    // shows more characters than fit, and starting over would draw them all
    // again and again.
    size_t Known() const;
    static constexpr size_t MaxPixels = size_t(4) << 20;
    static_assert(MaxPixels < (size_t(1) << 30), "an offset fits in an int32_t");

private:
    static constexpr int64_t Unknown = -2, NoCell = -1;
    int64_t Draw(char32_t c, int cells);
    void Forget();

    QRawFont m_font;
    QColor m_text, m_background;
    int m_width = 0, m_height = 0, m_ascent = 0;
    bool m_usable = false;
    int m_budget = INT_MAX;
    std::array<int64_t, 128> m_ascii{};              // offset into m_pixels, or Unknown / NoCell
    std::vector<uint32_t> m_asciiColours;            // 128 cells of colours, filled as drawn
    std::vector<int32_t> m_bmp; // the same up to U+FFFF (a lookup per character on every paint)
    std::unordered_map<char32_t, int64_t> m_others; // and beyond
    std::vector<uint8_t> m_pixels;
    std::vector<uint32_t> m_palette;
    std::unordered_map<uint32_t, uint8_t> m_colours; // index of each palette colour
};
