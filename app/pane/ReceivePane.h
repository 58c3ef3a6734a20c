#pragma once
// TReceivePane: the read-only receive pane. It shows a TReceiveStore and draws only
// the lines in view, so a session of days costs the store's bytes and nothing
// per line on the widget side.
//
// The window feeds received blocks into Store() and then calls Refresh() and
// ScrollToEnd() once per displayed frame. When the store drops its oldest
// lines, Refresh moves the scroll position and the selection with the lines
// that stay. Text is laid out on a grid of
// character cells: a wide (Chinese) character of an opened history file takes
// two cells, so the hex columns of dump lines stay aligned under any font.
// User-interface thread only.

#include "FindCount.h"
#include "GlyphCells.h"
#include "ReceiveStore.h"
#include "TextLines.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QRawFont>
#include <QString>

#include <array>
#include <atomic>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class QMenu;

class TReceivePane : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Off: every line is laid out as text (the tests compare both ways).
    static inline bool UseCells = true;

    // A selection longer than this many bytes of UTF-8 text is copied only up
    // to the last whole line that fits (see CopyTruncated). A whole session
    // belongs in a history file, not on the clipboard.
    static constexpr size_t CopyLimit = size_t(16) << 20;
    // A selection of up to this many bytes (as the line index tells) is copied at once; a
    // larger one is built on a thread of its own and reaches the clipboard when done. Another
    // Copy, Clear or a load cancels it.
    static constexpr size_t CopyNowBytes = size_t(1) << 20;

    // A place in the pane: line k, Col UTF-16 units into its text.
    struct TPos {
        int64_t Line = 0;
        int Col = 0;
        auto operator<=>(const TPos&) const = default;
    };

    explicit TReceivePane(QWidget* parent = nullptr);
    ~TReceivePane() override;

    TReceiveStore& Store() { return m_store; }
    const TReceiveStore& Store() const { return m_store; }

    // Text colour and background; the selection shows them swapped.
    void SetColors(const QColor& text, const QColor& background);
    // The font is the widget's own (setFont); a fixed-pitch one is expected.

    // Takes in what changed in the store: scroll range (O(1)) and a repaint
    // of the viewport. Drops the selection when the store was cleared or loaded.
    void Refresh();
    // Brings the end of the last line, where new bytes are written, into view.
    void ScrollToEnd();
    // Whether the last line is in view.
    bool ShowsEnd() const;
    // After new bytes: follows them to the end, unless scroll lock is on and
    // the user had scrolled away from the end (wasAtEnd false); the view then
    // holds and a mark at its foot says that new data is below.
    void FollowNewData(bool wasAtEnd);
    bool ScrollLock = false;
    // The last paint left characters whose glyphs are new for the next frame.
    bool GlyphsLeft() const { return m_glyphsLeft; }
    bool NewDataBelow() const;
    // Clear/Load of the store with the view following. Clear and Adopt give
    // the old content's memory back to the system.
    void Clear();
    // Shows fresh instead of the content so far (an opened file), in O(1).
    void Adopt(TReceiveStore&& fresh);
    void LoadText(std::string_view text);
    void Load(const std::vector<std::string>& lines);

    bool HasSelection() const;
    QString SelectedText() const;
    void SelectAll();
    void ClearSelection();
    void Select(TPos anchor, TPos cursor);
    TPos SelectionStart() const { return std::min(m_anchor, m_cursor); }
    TPos SelectionEnd() const { return std::max(m_anchor, m_cursor); }
    // Copies the selection to the clipboard as plain text, lines joined by "\n".
    void Copy();
    // A large copy is being built.
    bool Copying() const { return m_copying; }

    int64_t TopLine() const;
    // Lines that fit the viewport completely (at least 1).
    int VisibleLines() const;
    // The line and column under a viewport point, clamped to the content.
    TPos PosAt(QPoint point) const;
    // The viewport point at the left edge of pos, halfway down its line.
    QPoint PointOf(TPos pos) const;
    // The text of line k as the pane shows it; at most maxUnits UTF-16 units
    // of it, so a huge line of an opened file costs only what is in view.
    QString LineString(int64_t k, int maxUnits = INT_MAX) const;
    // The text view instead of the hex dump. Switching costs O(log): the line
    // at the top then shows the bytes the old top line showed (as near as the
    // two line structures allow); the selection is dropped.
    void SetTextView(bool on);
    bool TextView() const { return m_textView; }
    // Each text line begins with the time its first byte arrived.
    void SetTextStamps(bool on);
    bool TextStamps() const { return m_lines.Stamps; }
    const TTextLines& TextLines() const { return m_lines; }
    // The text view shows only the lines of the receive run that filter names
    // (those of another epoch of the store count as none); null shows every
    // line. The hex view ignores it. The run line at the top stays at the top.
    void SetFilter(std::shared_ptr<const TFoundLines> filter);
    const std::shared_ptr<const TFoundLines>& LineFilter() const { return m_filter; }
    bool Filtered() const { return m_textView && m_filter != nullptr; }
    // Scrolls the text view so that the line showing run text line t (or the
    // first one after it) is at row.
    void PlaceTextLine(int64_t t, int row);
    // The run's text line (TTextIndex numbering) that text-view line k shows;
    // -1 for the lines of an opened file, the mark line and those past the end.
    int64_t RunTextLine(int64_t k) const;
    // The text-view line that shows run text line t, or the first one after it.
    int64_t TextViewLine(int64_t t) const;
    // Lines in the view shown.
    int64_t LineTotal() const;

    // Found places to mark on a line: UTF-16 positions [From, To) of the
    // line's text as shown; the current one is marked strongly, the rest faintly.
    struct TMark {
        int From = 0;
        int To = 0;
        bool Current = false;
    };
    // Asked for the marks of each line painted (the find bar's).
    std::function<void(int64_t line, const QString& text, std::vector<TMark>& marks)> LineMarks;
    // Scrolls so that line k is in view (near the middle when it was not), and
    // its text from UTF-16 position col on.
    void ShowLine(int64_t k, int col = 0);

    // The popup menu with "复制" and "全选"; the caller owns it.
    QMenu* CreateContextMenu();
    // Adds the window's own items to the pane's menu (the live log).
    std::function<void(QMenu*)> ExtendMenu;

signals:
    // The last Copy stopped at CopyLimit after copiedLines of selectedLines.
    void CopyTruncated(qint64 copiedLines, qint64 selectedLines);
    // The text view or its stamps were switched.
    void ViewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Repaints the viewport: at once, or while FollowNewData runs at most once a frame. A flood
    // follows the end a few hundred times a second; painting each of them took up to half the
    // window's thread in the text view, and the picture changes no faster than the screen's.
    void UpdateView();
    static constexpr int FrameMs = 16;
    bool m_forData = false;    // FollowNewData is running
    QElapsedTimer m_painted;   // since the last paint
    class QTimer* m_paintLater = nullptr;
    // UTF-16 units enough to fill the viewport's width (and the scrolled-off part).
    int ShownUnits(qreal x) const;
    void UpdateMetrics();
    void UpdateScrollBars();
    void CheckEpoch();
    TPos Clamp(TPos pos) const;
    // The selection's text up to CopyLimit; lines tells how many lines it spans.
    QString SelectedText(int64_t& lines) const;
    // Draws a line's text in the pen's colour; skip, when given, marks the
    // UTF-16 positions of characters already in place.
    void DrawLine(class QPainter& painter, qreal x, qreal baseline, const QString& text,
                  const std::vector<uint8_t>* skip = nullptr) const;
    // The fast way to draw a line in the pane's own colours: the characters
    // that have cells (m_cells) are copied into place, the rest drawn as text.
    void DrawCells(class QPainter& painter, int x, int y, const QString& text);

    // The view shown: lines, line k as UTF-8 (maxBytes: see TTextLines), its
    // length bound, the widest line, and how far dropping moved the lines up.
    std::string_view LineUtf8(int64_t k, std::string& scratch, size_t maxBytes = SIZE_MAX) const;
    size_t LineLength(int64_t k) const;
    size_t MaxLineWidth() const;
    int64_t Shifted() const;
    // The text view's lines before the run's first, unfiltered.
    int64_t RunStart() const;
    // Text-view line k unfiltered, for filtered line k; -1 when none.
    int64_t Unfiltered(int64_t k) const;
    int64_t FilterCount() const;

    TReceiveStore m_store;
    TTextLines m_lines; // the text view of m_store
    bool m_textView = false;
    bool m_wide = false; // lines are wider than the view: the horizontal bar is shown
    std::shared_ptr<const TFoundLines> m_filter;
    class QLabel* m_newBelow = nullptr;
    void PlaceNewBelow();
    QColor m_text{Qt::white};
    QColor m_background{Qt::black};
    qreal m_cell = 8;      // width of one character cell, pixels
    int m_lineHeight = 16; // pixels
    int m_ascent = 12;
    bool m_fixedPitch = true;
    // Characters of the font that shaping leaves alone (printable ASCII,
    // Chinese, Japanese kana, Greek...) are drawn from the font's glyphs
    // directly, one glyph per character at its cell, without laying the text
    // out again on every paint. The glyph is 0 for the rest (marks, scripts
    // whose letters join, characters of a fallback font): they are drawn as
    // text. m_bmpGlyphs remembers the answers above ASCII, in a table of the
    // Basic Multilingual Plane (a lookup per character on every paint),
    // m_glyphs those beyond it; both are cleared when the font changes, and
    // m_glyphs when it grows past MaxGlyphs.
    // A glyph drawn for the first time is rendered by the font engine, which
    // takes far longer than drawing it again: a paint draws at most
    // NewGlyphsPerPaint of them (a screen of random bytes in a maximised
    // window shows a thousand or more) and leaves the rest to the next frame.
    struct TGlyphOf {
        quint32 Glyph = 0;
        bool Drawn = false;
        bool Known = false; // in m_bmpGlyphs: Glyph is the answer
    };
    TGlyphOf& GlyphOf(char32_t c) const;
    static constexpr size_t MaxGlyphs = size_t(1) << 16;
    static constexpr int NewGlyphsPerPaint = 100;
    QRawFont m_raw;
    std::array<quint32, 128> m_asciiGlyph{};
    mutable std::vector<TGlyphOf> m_bmpGlyphs; // U+0000..U+FFFF, made on first use
    mutable std::unordered_map<char32_t, TGlyphOf> m_glyphs;
    mutable int m_newGlyphs = NewGlyphsPerPaint; // left in this paint
    mutable bool m_glyphsLeft = false;           // the last paint left some
    TGlyphCells m_cells; // reset when the font or the colours change
    static constexpr int NewCellsPerPaint = 16;
    QImage m_strip;      // one line of the view, composed from cells
    std::vector<uint8_t> m_placed; // DrawCells: the characters put in place
    std::vector<TMark> m_marks;    // paintEvent: a line's
    // The copy being built on its thread: its cancel flag, and the way back to this thread,
    // which the pane closes (under Lock) as it goes.
    struct TCopyCalls {
        std::mutex Lock;
        class TPostedCalls* Calls = nullptr;
    };
    void CancelCopy();
    std::shared_ptr<std::atomic<bool>> m_copyCancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<TCopyCalls> m_copyCalls = std::make_shared<TCopyCalls>();
    bool m_copying = false;
    TPos m_anchor;
    TPos m_cursor;
    bool m_dragging = false;
    uint64_t m_epoch = 0;
    int64_t m_shifted = 0; // the store's LinesShifted when the view last followed it
};
