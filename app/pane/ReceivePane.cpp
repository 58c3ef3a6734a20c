#include "ReceivePane.h"

#include "CodePage.h"
#include "Handover.h"
#include "MemoryReturn.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Space between the viewport's edge and the text, pixels.
constexpr int Margin = 2;

// East Asian wide and full-width characters, and every two-byte character
// of the code page (℃, ①, box drawing: the Chinese fonts draw them wide):
// they take two cells, as a two-byte character does in byte text.
bool IsWide(char32_t c) {
    return c >= 0x80 &&
           ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
            (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
            (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
            (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD) ||
            IsCodePagePairChar(c));
}

struct TGlyph {
    int Index;    // UTF-16 index of the code point
    int Length;   // 1, or 2 for a surrogate pair
    int Cells;    // 1 or 2
    char32_t Code; // the code point (a lone surrogate stands for itself)
};

// Calls f(glyph, cell) for every code point of text with its first cell.
template <class F> void ForEachGlyph(const QString& text, F f) {
    int cell = 0;
    for (int i = 0; i < text.size();) {
        char32_t c = text[i].unicode();
        int length = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            length = 2;
        }
        const TGlyph glyph{i, length, IsWide(c) ? 2 : 1, c};
        if (!f(glyph, cell))
            return;
        cell += glyph.Cells;
        i += length;
    }
}

int CellOf(const QString& text, int index) {
    int result = 0;
    ForEachGlyph(text, [&](const TGlyph& g, int cell) {
        result = cell + g.Cells;
        return g.Index + g.Length < index;
    });
    return index <= 0 ? 0 : result;
}

// The boundary between characters nearest to a fractional cell position.
int IndexAtCell(const QString& text, qreal cell) {
    int result = int(text.size());
    ForEachGlyph(text, [&](const TGlyph& g, int start) {
        if (cell < start + g.Cells / 2.0) {
            result = g.Index;
            return false;
        }
        return true;
    });
    return result;
}

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// A scroll bar that repaints only when what it shows changes. While data
// floods in, the pane sets the range on every frame, and past a few thousand
// lines the handle stays where it was: a repaint then draws the same pixels,
// and styles draw scroll bars slowly.
class TQuietScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    // A new range moves the handle before the new value moves it back, and
    // setting the page step repaints even when it stays the same: so whether
    // anything changed is judged once, after the pane has set everything.
    void sliderChange(SliderChange) override {
        if (m_checkPosted)
            return;
        m_checkPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_checkPosted = false;
                if (!m_painted || Shown() != m_shown)
                    update();
            },
            Qt::QueuedConnection);
    }
    void paintEvent(QPaintEvent* event) override {
        m_shown = Shown();
        m_painted = true;
        QScrollBar::paintEvent(event);
    }

private:
    struct TShown {
        QRect Handle;
        bool AtMinimum, AtMaximum;
        bool operator==(const TShown&) const = default;
    };
    TShown Shown() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    TShown m_shown;
    bool m_painted = false;
    bool m_checkPosted = false;
};

} // namespace

namespace {

// The lines a copy reads: line k as UTF-8 (maxBytes: see TTextLines), and whether it is a dump
// line of the hex view, whose bytes are its text.
struct TCopyLines {
    std::function<std::string_view(int64_t k, std::string& scratch, size_t maxBytes)> Utf8;
    std::function<bool(int64_t k)> Latin1;
};

QString LineStringOf(const TCopyLines& src, int64_t k, int maxUnits) {
    std::string scratch;
    maxUnits = std::max(0, maxUnits);
    // A UTF-16 unit takes at most 3 bytes of UTF-8 (4 for a pair of units).
    const size_t bytes = size_t(maxUnits) * 3 + 4;
    std::string_view line = src.Utf8(k, scratch, bytes);
    if (src.Latin1(k))
        return QString::fromLatin1(line.substr(0, size_t(maxUnits)));
    QString text = QString::fromUtf8(line.substr(0, bytes));
    if (text.size() > maxUnits)
        text.truncate(maxUnits);
    return text;
}

// The text from s to e up to CopyLimit; lines tells how many whole lines it holds. Stops early,
// with what it has, once cancel is set.
QString CopyText(const TCopyLines& src, TReceivePane::TPos s, TReceivePane::TPos e, int64_t& lines,
                 const std::atomic<bool>* cancel) {
    lines = 0;
    // Units of text the copy holds at most, as many as the limit's bytes. A line cut short
    // does not count as copied.
    const qsizetype limitUnits = qsizetype(TReceivePane::CopyLimit);
    if (s.Line == e.Line) {
        const int end = int(std::min<qsizetype>(e.Col, qsizetype(s.Col) + limitUnits));
        QString text = LineStringOf(src, s.Line, end).mid(s.Col);
        lines = end == e.Col || text.size() < end - s.Col ? 1 : 0;
        return text;
    }
    QString text = LineStringOf(src, s.Line, int(std::min<qsizetype>(INT_MAX, s.Col + limitUnits)));
    if (text.size() - s.Col >= limitUnits)
        return text.mid(s.Col); // the first line alone fills the copy, cut short
    text = text.mid(s.Col);
    lines = 1;
    // The middle lines go through one UTF-8 buffer: a selection of millions
    // of lines then costs one conversion, not one QString per line.
    std::string middle, scratch;
    const size_t budget = TReceivePane::CopyLimit - std::min(TReceivePane::CopyLimit, size_t(text.size()));
    int64_t k = s.Line + 1;
    for (; k < e.Line; ++k) {
        if (cancel != nullptr && (k & 0xFFF) == 0 && cancel->load(std::memory_order_relaxed))
            return {};
        const size_t before = middle.size();
        middle += '\n';
        middle.append(src.Utf8(k, scratch, budget - std::min(budget, before)));
        if (middle.size() > budget) {
            middle.resize(before);
            break;
        }
    }
    text += QString::fromUtf8(middle.data(), qsizetype(middle.size()));
    lines = k - s.Line;
    if (k == e.Line) {
        const qsizetype room = std::max<qsizetype>(0, limitUnits - text.size());
        const QString last = LineStringOf(src, e.Line, int(std::min<qsizetype>(e.Col, room)));
        text += QLatin1Char('\n') + last;
        // Whole when the line held no more than what fit.
        if (e.Col <= room || last.size() < std::min<qsizetype>(e.Col, room))
            ++lines;
    }
    return text;
}

} // namespace

TReceivePane::TReceivePane(QWidget* parent) : QAbstractScrollArea(parent), m_lines(m_store, CodePagePairUtf8) {
    m_copyCalls->Calls = new TPostedCalls(this);
    m_paintLater = new QTimer(this);
    m_paintLater->setSingleShot(true);
    connect(m_paintLater, &QTimer::timeout, this, [this] { viewport()->update(); });
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical));
    setHorizontalScrollBar(new TQuietScrollBar(Qt::Horizontal));
    // The scroll area lays out its children again after every change of a bar's range, and
    // doing so raises the bars, which repaints them and the frame around the view: while
    // data floods in, on every frame. The vertical bar is always shown; whether the
    // horizontal one is, is decided in UpdateScrollBars, when that changes.
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()})
        disconnect(bar, SIGNAL(rangeChanged(int,int)), this, SLOT(_q_showOrHideScrollBars()));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines never wrap; the bar appears only when the pane is narrower than a line.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    // paintEvent covers every pixel: what lies beneath need not be drawn first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QFont font(QStringLiteral("Noto Sans Mono CJK SC"));
    font.setPixelSize(12);
    font.setStyleHint(QFont::TypeWriter);
    setFont(font);
    UpdateMetrics();
    UpdateScrollBars();

    m_newBelow = new QLabel(tr("▼ 下面有新数据"), viewport());
    m_newBelow->setAutoFillBackground(true);
    {
        QPalette p = m_newBelow->palette();
        p.setColor(QPalette::Window, QColor(255, 160, 0));
        p.setColor(QPalette::WindowText, Qt::black);
        m_newBelow->setPalette(p);
    }
    m_newBelow->setCursor(Qt::PointingHandCursor);
    m_newBelow->installEventFilter(this);
    m_newBelow->hide();
    // Back at the end, the pane follows again.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (m_newBelow->isVisible() && ShowsEnd())
            m_newBelow->hide();
    });
}

bool TReceivePane::ShowsEnd() const {
    const int64_t count = LineTotal();
    return count == 0 || count - 1 < TopLine() + VisibleLines();
}

bool TReceivePane::NewDataBelow() const {
    return m_newBelow->isVisible();
}

void TReceivePane::PlaceNewBelow() {
    m_newBelow->adjustSize();
    m_newBelow->move((viewport()->width() - m_newBelow->width()) / 2,
                     viewport()->height() - m_newBelow->height() - 2);
}

// A click on the mark goes to the new data.
bool TReceivePane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_newBelow && event->type() == QEvent::MouseButtonPress) {
        ScrollToEnd();
        m_newBelow->hide();
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void TReceivePane::FollowNewData(bool wasAtEnd) {
    m_forData = true;
    const auto done = qScopeGuard([this] { m_forData = false; });
    if (!ScrollLock || wasAtEnd) {
        ScrollToEnd();
        m_newBelow->hide();
        return;
    }
    Refresh();
    if (!ShowsEnd()) {
        PlaceNewBelow();
        m_newBelow->show();
    }
}

void TReceivePane::SetColors(const QColor& text, const QColor& background) {
    m_text = text;
    m_background = background;
    m_cells.Reset(m_raw, m_cell, m_lineHeight, m_ascent, m_text, m_background);
    viewport()->update();
}

void TReceivePane::UpdateMetrics() {
    const QFontMetricsF fm(font());
    m_cell = std::max<qreal>(1, fm.horizontalAdvance(QLatin1Char('0')));
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_ascent = int(std::ceil(fm.ascent()));
    // A proportional fallback font is drawn one character per cell.
    m_fixedPitch = qFuzzyCompare(fm.horizontalAdvance(QLatin1Char('i')), m_cell) &&
                   qFuzzyCompare(fm.horizontalAdvance(QLatin1Char('W')), m_cell) &&
                   qFuzzyCompare(fm.horizontalAdvance(QLatin1Char(' ')), m_cell);
    m_asciiGlyph.fill(0);
    m_bmpGlyphs.clear();
    m_glyphs.clear();
    m_raw = QRawFont::fromFont(font());
    if (m_raw.isValid()) {
        QString printable;
        for (char16_t c = 0x21; c < 0x7F; ++c)
            printable += QChar(c);
        const QList<quint32> glyphs = m_raw.glyphIndexesForString(printable);
        for (int i = 0; i < glyphs.size() && i < printable.size(); ++i)
            m_asciiGlyph[printable[i].unicode()] = glyphs[i];
    }
    m_cells.Reset(m_raw, m_cell, m_lineHeight, m_ascent, m_text, m_background);
}

int TReceivePane::VisibleLines() const {
    return std::max(1, (viewport()->height() - Margin) / m_lineHeight);
}

int64_t TReceivePane::TopLine() const {
    return verticalScrollBar()->value();
}

void TReceivePane::UpdateScrollBars() {
    // Beyond INT_MAX lines (32 GiB received) the last lines cannot be
    // scrolled to; the store holds them all the same.
    const int64_t count = LineTotal();
    const int visible = VisibleLines();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, int(std::clamp<int64_t>(count - visible, 0, INT_MAX)));
    v->setPageStep(visible);
    v->setSingleStep(1);

    const int64_t width = int64_t(std::ceil(qreal(MaxLineWidth()) * m_cell)) + 2 * Margin;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, int(std::clamp<int64_t>(width - viewport()->width(), 0, INT_MAX)));
    h->setPageStep(viewport()->width());
    h->setSingleStep(int(std::ceil(m_cell)));
    const bool wide = h->maximum() > 0;
    if (wide != m_wide) {
        m_wide = wide;
        QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
    }
}

void TReceivePane::CheckEpoch() {
    if (m_epoch != m_store.Epoch()) {
        m_epoch = m_store.Epoch();
        m_shifted = Shifted();
        m_anchor = m_cursor = TPos{};
        m_dragging = false;
        return;
    }
    // The oldest lines were dropped: what stays moved up. A selection end in
    // the dropped part moves to the mark line's start.
    const int64_t shift = Shifted() - m_shifted;
    if (shift == 0)
        return;
    m_shifted = Shifted();
    const auto follow = [shift](TPos& pos) {
        pos.Line -= shift;
        if (pos.Line < 0)
            pos = TPos{};
    };
    follow(m_anchor);
    follow(m_cursor);
    QScrollBar* v = verticalScrollBar();
    v->setValue(int(std::max<int64_t>(0, v->value() - shift)));
}

void TReceivePane::Refresh() {
    CheckEpoch();
    UpdateScrollBars();
    UpdateView();
}

void TReceivePane::UpdateView() {
    const qint64 since = m_painted.isValid() ? m_painted.elapsed() : FrameMs;
    if (!m_forData || since >= FrameMs)
        viewport()->update();
    else if (!m_paintLater->isActive())
        m_paintLater->start(int(FrameMs - since));
}

void TReceivePane::scrollContentsBy(int, int) {
    UpdateView();
}

void TReceivePane::ScrollToEnd() {
    Refresh();
    const int64_t count = LineTotal();
    if (count == 0)
        return;
    const int64_t last = count - 1;
    const int64_t top = TopLine();
    const int visible = VisibleLines();
    QScrollBar* v = verticalScrollBar();
    if (last < top)
        v->setValue(int(std::min<int64_t>(last, INT_MAX)));
    else if (last >= top + visible)
        v->setValue(int(std::min<int64_t>(last - visible + 1, INT_MAX)));

    // The insertion point stands after the last character of the last line.
    // Text lines differ in length: following each new one sideways would
    // hide the beginnings of the others, so the text view stays where it is.
    if (m_textView)
        return;
    QScrollBar* h = horizontalScrollBar();
    if (LineLength(last) > 65536) {
        h->setValue(h->maximum()); // no need to measure a line that long
        return;
    }
    const QString text = LineString(last);
    const int x = int(std::ceil(CellOf(text, int(text.size())) * m_cell)) + Margin;
    const int width = viewport()->width();
    if (x < h->value())
        h->setValue(x - Margin);
    else if (x + Margin > h->value() + width)
        h->setValue(x + Margin - width);
}

void TReceivePane::ShowLine(int64_t k, int col) {
    Refresh();
    const int64_t top = TopLine();
    const int visible = VisibleLines();
    QScrollBar* v = verticalScrollBar();
    if (k < top || k >= top + visible)
        v->setValue(int(std::clamp<int64_t>(k - visible / 2, 0, INT_MAX)));
    const QString text = LineString(k, col + 1);
    const int x = int(CellOf(text, col) * m_cell);
    QScrollBar* h = horizontalScrollBar();
    const int width = viewport()->width();
    if (x < h->value() || x + 4 * int(m_cell) > h->value() + width)
        h->setValue(std::max(0, x - width / 3));
    viewport()->update();
}

void TReceivePane::Clear() {
    CancelCopy();
    m_store.Clear();
    ReturnFreeMemory();
    Refresh();
}

void TReceivePane::Adopt(TReceiveStore&& fresh) {
    CancelCopy();
    m_store.Adopt(std::move(fresh));
    ReturnFreeMemory();
    Refresh();
}

void TReceivePane::LoadText(std::string_view text) {
    m_store.LoadText(text);
    Refresh();
}

void TReceivePane::Load(const std::vector<std::string>& lines) {
    m_store.Load(lines);
    Refresh();
}

int64_t TReceivePane::LineTotal() const {
    if (Filtered())
        return FilterCount();
    return m_textView ? m_lines.LineCount() : m_store.LineCount();
}

std::string_view TReceivePane::LineUtf8(int64_t k, std::string& scratch, size_t maxBytes) const {
    if (Filtered()) {
        k = Unfiltered(k);
        if (k < 0) {
            scratch.clear();
            return scratch;
        }
    }
    return m_textView ? m_lines.LineView(k, scratch, maxBytes) : m_store.LineView(k, scratch);
}

size_t TReceivePane::LineLength(int64_t k) const {
    if (Filtered()) {
        k = Unfiltered(k);
        if (k < 0)
            return 0;
    }
    return m_textView ? m_lines.LineBytes(k) : m_store.LineBytes(k);
}

int64_t TReceivePane::FilterCount() const {
    return m_filter->Epoch() == m_store.Epoch() ? m_filter->Count() : 0;
}

int64_t TReceivePane::RunStart() const {
    return (m_store.DroppedLines() > 0 ? 1 : 0) + m_store.LinesBeforeRun();
}

int64_t TReceivePane::Unfiltered(int64_t k) const {
    const int64_t t = RunTextLine(k);
    return t < 0 ? -1 : RunStart() + t - m_store.TextIndex().FirstLine();
}

int64_t TReceivePane::RunTextLine(int64_t k) const {
    const TTextIndex& index = m_store.TextIndex();
    int64_t t = -1;
    if (Filtered()) {
        if (m_filter->Epoch() == m_store.Epoch())
            t = m_filter->Line(k);
    } else if (k >= RunStart()) {
        t = index.FirstLine() + (k - RunStart());
    }
    return t >= index.FirstLine() && t < index.EndLine() ? t : -1;
}

int64_t TReceivePane::TextViewLine(int64_t t) const {
    if (Filtered())
        return m_filter->Epoch() == m_store.Epoch() ? m_filter->Before(t) : 0;
    return RunStart() + std::max<int64_t>(0, t - m_store.TextIndex().FirstLine());
}

void TReceivePane::SetFilter(std::shared_ptr<const TFoundLines> filter) {
    CheckEpoch();
    const int64_t t = m_textView ? RunTextLine(TopLine()) : -1;
    m_filter = std::move(filter);
    // A selection's lines belong to the other set of lines.
    m_anchor = m_cursor = TPos{};
    m_dragging = false;
    m_shifted = Shifted();
    UpdateScrollBars();
    if (m_textView)
        verticalScrollBar()->setValue(t >= 0 ? int(std::clamp<int64_t>(TextViewLine(t), 0, INT_MAX)) : 0);
    viewport()->update();
}

void TReceivePane::PlaceTextLine(int64_t t, int row) {
    Refresh();
    verticalScrollBar()->setValue(int(std::clamp<int64_t>(TextViewLine(t) - row, 0, INT_MAX)));
}

size_t TReceivePane::MaxLineWidth() const {
    return m_textView ? m_lines.MaxLineCells() : m_store.MaxLineBytes();
}

int64_t TReceivePane::Shifted() const {
    if (Filtered())
        return m_filter->Dropped();
    return m_textView ? m_lines.LinesShifted() : m_store.LinesShifted();
}

void TReceivePane::SetTextView(bool on) {
    if (on == m_textView)
        return;
    CheckEpoch();
    const bool atEnd = ShowsEnd();
    int64_t top = TopLine();
    if (Filtered()) {
        const int64_t t = RunTextLine(top);
        top = t >= 0 ? RunStart() + t - m_store.TextIndex().FirstLine() : 0;
    }
    int64_t mapped = on ? m_lines.FromHexLine(top) : m_lines.ToHexLine(top);
    m_textView = on;
    if (Filtered()) {
        // mapped counts every line of the text view; the filter shows some.
        const int64_t t = m_store.TextIndex().FirstLine() + std::max<int64_t>(0, mapped - RunStart());
        mapped = TextViewLine(t);
    }
    // A selection's columns belong to the other view's lines.
    m_anchor = m_cursor = TPos{};
    m_dragging = false;
    m_shifted = Shifted();
    UpdateScrollBars();
    verticalScrollBar()->setValue(int(std::clamp<int64_t>(mapped, 0, INT_MAX)));
    horizontalScrollBar()->setValue(0);
    if (atEnd)
        ScrollToEnd();
    viewport()->update();
    emit ViewChanged();
}

void TReceivePane::SetTextStamps(bool on) {
    if (on == m_lines.Stamps)
        return;
    m_lines.Stamps = on;
    Refresh();
    emit ViewChanged();
}

QString TReceivePane::LineString(int64_t k, int maxUnits) const {
    return LineStringOf(
        TCopyLines{[this](int64_t n, std::string& scratch, size_t maxBytes) { return LineUtf8(n, scratch, maxBytes); },
                   [this](int64_t n) { return !m_textView && m_store.IsDumpLine(n); }},
        k, maxUnits);
}

int TReceivePane::ShownUnits(qreal x) const {
    // A cell holds at least half a unit (a surrogate pair in two cells).
    const qreal cells = std::max<qreal>(0, x - Margin) / m_cell + 2;
    return int(std::min<qreal>(cells * 2, INT_MAX / 2));
}

// Columns are bounded by the line's length in bytes, which is at least its
// length in UTF-16 units: cheap, and every use of a column tolerates one past
// the end.
TReceivePane::TPos TReceivePane::Clamp(TPos pos) const {
    const int64_t count = LineTotal();
    if (count == 0 || pos.Line < 0)
        return TPos{};
    if (pos.Line >= count)
        pos = TPos{count - 1, INT_MAX};
    const size_t bytes = std::min<size_t>(LineLength(pos.Line), INT_MAX);
    pos.Col = std::clamp(pos.Col, 0, int(bytes));
    return pos;
}

bool TReceivePane::HasSelection() const {
    return m_epoch == m_store.Epoch() && Clamp(m_anchor) != Clamp(m_cursor);
}

void TReceivePane::ClearSelection() {
    m_anchor = m_cursor = TPos{};
    viewport()->update();
}

void TReceivePane::Select(TPos anchor, TPos cursor) {
    CheckEpoch();
    m_anchor = Clamp(anchor);
    m_cursor = Clamp(cursor);
    viewport()->update();
}

void TReceivePane::SelectAll() {
    const int64_t count = LineTotal();
    // The end of the last line from the index: the line is not rendered.
    if (count > 0)
        Select(TPos{0, 0}, TPos{count - 1, INT_MAX});
}

QString TReceivePane::SelectedText() const {
    int64_t lines = 0;
    return SelectedText(lines);
}

QString TReceivePane::SelectedText(int64_t& lines) const {
    lines = 0;
    if (!HasSelection())
        return {};
    return CopyText(
        TCopyLines{[this](int64_t n, std::string& scratch, size_t maxBytes) { return LineUtf8(n, scratch, maxBytes); },
                   [this](int64_t n) { return !m_textView && m_store.IsDumpLine(n); }},
        Clamp(SelectionStart()), Clamp(SelectionEnd()), lines, nullptr);
}

TReceivePane::~TReceivePane() {
    m_copyCancel->store(true);
    std::lock_guard lock(m_copyCalls->Lock);
    m_copyCalls->Calls = nullptr; // the calls go with the pane's children
}

void TReceivePane::CancelCopy() {
    m_copying = false;
    m_copyCancel->store(true);
    m_copyCancel = std::make_shared<std::atomic<bool>>(false);
}

void TReceivePane::Copy() {
    if (!HasSelection())
        return;
    CancelCopy();
    const TPos s = Clamp(SelectionStart());
    const TPos e = Clamp(SelectionEnd());
    const int64_t selected = e.Line - s.Line + 1;
    // The lengths from the index: a small selection is copied at once. Many short lines count
    // as large too, so that this look stays short.
    size_t bytes = 0;
    for (int64_t k = s.Line; k <= e.Line && bytes <= CopyNowBytes; ++k)
        bytes += std::max<size_t>(LineLength(k) + 1, 64);
    if (bytes <= CopyNowBytes) {
        int64_t copied = 0;
        QApplication::clipboard()->setText(SelectedText(copied));
        if (copied < selected)
            emit CopyTruncated(copied, selected);
        return;
    }
    // A large one is built on a thread of its own from a snapshot of the store; the clipboard
    // takes it on this thread when it is done.
    m_copying = true;
    std::thread([shot = m_store.Snapshot(), textView = m_textView, stamps = m_lines.Stamps,
                 cancel = m_copyCancel, calls = m_copyCalls, s, e, selected, this]() mutable {
        TTextLines lines(*shot, CodePagePairUtf8);
        lines.Stamps = stamps;
        int64_t copied = 0;
        QString text = CopyText(
            TCopyLines{[&](int64_t n, std::string& scratch, size_t maxBytes) {
                           return textView ? lines.LineView(n, scratch, maxBytes) : shot->LineView(n, scratch);
                       },
                       [&](int64_t n) { return !textView && shot->IsDumpLine(n); }},
            s, e, copied, cancel.get());
        shot.reset(); // blocks the pane dropped meanwhile go now, on this thread
        std::lock_guard lock(calls->Lock);
        if (calls->Calls == nullptr || cancel->load())
            return;
        // Runs only while the pane is there: the calls are its child.
        calls->Calls->Post([this, cancel, text = std::move(text), copied, selected] {
            if (cancel->load())
                return;
            m_copying = false;
            QApplication::clipboard()->setText(text);
            if (copied < selected)
                emit CopyTruncated(copied, selected);
        });
    }).detach();
}

TReceivePane::TPos TReceivePane::PosAt(QPoint point) const {
    const int64_t count = LineTotal();
    if (count == 0)
        return TPos{};
    const int64_t row = int64_t(std::floor(qreal(point.y() - Margin) / m_lineHeight));
    const int64_t line = TopLine() + row;
    if (line < 0)
        return TPos{};
    if (line >= count)
        return Clamp(TPos{count - 1, INT_MAX}); // the end of the last line
    const qreal x = point.x() + horizontalScrollBar()->value();
    const QString text = LineString(line, ShownUnits(x));
    const qreal cell = (x - Margin) / m_cell;
    return TPos{line, IndexAtCell(text, cell)};
}

QPoint TReceivePane::PointOf(TPos pos) const {
    const qreal x = Margin - horizontalScrollBar()->value() +
                    CellOf(LineString(pos.Line, pos.Col + 1), pos.Col) * m_cell;
    const int64_t y = Margin + (pos.Line - TopLine()) * m_lineHeight + m_lineHeight / 2;
    return QPoint(int(std::lround(x)), int(std::clamp<int64_t>(y, INT_MIN / 2, INT_MAX / 2)));
}

TReceivePane::TGlyphOf& TReceivePane::GlyphOf(char32_t c) const {
    TGlyphOf* known = nullptr;
    if (c < 0x10000) {
        if (m_bmpGlyphs.empty())
            m_bmpGlyphs.resize(0x10000);
        known = &m_bmpGlyphs[c];
        if (known->Known)
            return *known;
    } else if (auto found = m_glyphs.find(c); found != m_glyphs.end()) {
        return found->second;
    }
    quint32 glyph = 0;
    const bool conjoining = (c >= 0x1100 && c <= 0x11FF) || (c >= 0xA960 && c <= 0xA97F) ||
                            (c >= 0xD7B0 && c <= 0xD7FF); // Hangul jamo
    const QChar::Category category = QChar::category(c);
    const bool mark = category == QChar::Mark_NonSpacing ||
                      category == QChar::Mark_SpacingCombining ||
                      category == QChar::Mark_Enclosing || category == QChar::Other_Format ||
                      category == QChar::Other_Control || category == QChar::Other_Surrogate;
    switch (QChar::script(c)) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
    case QChar::Script_Hangul:
        if (!conjoining && !mark && m_raw.isValid()) {
            const QList<quint32> glyphs = m_raw.glyphIndexesForString(QString::fromUcs4(&c, 1));
            if (glyphs.size() == 1)
                glyph = glyphs[0];
        }
        break;
    default:
        break;
    }
    if (known != nullptr) {
        *known = TGlyphOf{glyph, false, true};
        return *known;
    }
    if (m_glyphs.size() >= MaxGlyphs)
        m_glyphs.clear();
    return m_glyphs.emplace(c, TGlyphOf{glyph, false, true}).first->second;
}

void TReceivePane::DrawLine(QPainter& painter, qreal x, qreal baseline, const QString& text,
                            const std::vector<uint8_t>* skip) const {
    // Most characters are placed in their cells from the font's glyphs at
    // once; the rest goes out as text runs, laid out by the toolkit.
    QList<quint32> glyphs;
    QList<QPointF> places;
    QString run;
    int runCell = 0;
    auto flush = [&] {
        if (!run.isEmpty())
            painter.drawText(QPointF(x + runCell * m_cell, baseline), run);
        run.clear();
    };
    ForEachGlyph(text, [&](const TGlyph& g, int cell) {
        if (skip && (*skip)[size_t(g.Index)]) {
            flush();
            return true;
        }
        const char32_t code = g.Code;
        if (code == U' ') {
            flush();
            return true;
        }
        quint32 glyph = code < 0x80 ? m_asciiGlyph[code] : 0;
        if (code >= 0x80) {
            TGlyphOf& of = GlyphOf(code);
            glyph = of.Glyph;
            if (glyph != 0 && !of.Drawn) {
                if (m_newGlyphs <= 0) { // the next paint draws it
                    flush();
                    m_glyphsLeft = true;
                    return true;
                }
                --m_newGlyphs;
                of.Drawn = true;
            }
        }
        if (glyph != 0) {
            flush();
            glyphs.append(glyph);
            places.append(QPointF(x + cell * m_cell, 0));
            return true;
        }
        const bool control = code < 0x20;
        if (g.Cells == 2 || control || !m_fixedPitch)
            flush();
        if (run.isEmpty())
            runCell = cell;
        if (!control)
            run += QStringView(text).mid(g.Index, g.Length);
        if (g.Cells == 2 || !m_fixedPitch)
            flush();
        return true;
    });
    flush();
    if (glyphs.isEmpty())
        return;
    QGlyphRun cells;
    cells.setRawFont(m_raw);
    cells.setGlyphIndexes(glyphs);
    cells.setPositions(places);
    painter.drawGlyphRun(QPointF(0, baseline), cells);
}

void TReceivePane::paintEvent(QPaintEvent* event) {
    m_painted.start();
    m_paintLater->stop();
    CheckEpoch();
    QPainter painter(viewport());
    painter.fillRect(event->rect(), m_background);
    painter.setFont(font());
    const int64_t count = LineTotal();
    const int64_t top = TopLine();
    const qreal x = Margin - horizontalScrollBar()->value();
    const bool selected = HasSelection();
    const TPos s = Clamp(SelectionStart());
    const TPos e = Clamp(SelectionEnd());
    const int height = viewport()->height();
    const int shown = ShownUnits(horizontalScrollBar()->value() + viewport()->width());
    const bool cells = UseCells && viewport()->devicePixelRatio() == 1 && m_cells.Usable();
    m_cells.SetBudget(NewCellsPerPaint);
    m_newGlyphs = NewGlyphsPerPaint;
    m_glyphsLeft = false;
    for (int64_t k = top; k < count; ++k) {
        const int y = Margin + int(k - top) * m_lineHeight;
        if (y >= height)
            break;
        if (y + m_lineHeight <= event->rect().top() || y > event->rect().bottom())
            continue;
        const QString text = LineString(k, shown);
        painter.setPen(m_text);
        if (cells)
            DrawCells(painter, int(x), y, text);
        else
            DrawLine(painter, x, y + m_ascent, text);
        if (LineMarks) {
            m_marks.clear();
            LineMarks(k, text, m_marks);
            for (const TMark& mark : m_marks) {
                const int a = std::clamp(mark.From, 0, int(text.size()));
                const int b = std::clamp(mark.To, a, int(text.size()));
                const qreal left = x + CellOf(text, a) * m_cell, right = x + CellOf(text, b) * m_cell;
                if (right > left)
                    painter.fillRect(QRectF(left, y, right - left, m_lineHeight),
                                     mark.Current ? QColor(255, 150, 0, 170) : QColor(255, 255, 0, 80));
            }
        }
        if (!selected || k < s.Line || k > e.Line)
            continue;
        // The selected part is drawn again inverted, clipped to its cells.
        const int a = k == s.Line ? std::min(s.Col, int(text.size())) : 0;
        const int b = k == e.Line ? std::min(e.Col, int(text.size())) : int(text.size());
        qreal left = x + CellOf(text, a) * m_cell;
        qreal right = x + CellOf(text, b) * m_cell;
        if (k != e.Line)
            right += m_cell / 2; // the line break is selected too
        if (right <= left)
            continue;
        const QRectF box(left, y, right - left, m_lineHeight);
        painter.save();
        painter.fillRect(box, m_text);
        painter.setClipRect(box);
        painter.setPen(m_background);
        DrawLine(painter, x, y + m_ascent, text);
        painter.restore();
    }
    if (m_glyphsLeft)
        m_paintLater->start(FrameMs);
}

// Composes the line in m_strip from the cells, puts it on the view in one
// copy, then draws what has no cell on top.
void TReceivePane::DrawCells(QPainter& painter, int x, int y, const QString& text) {
    const int width = m_cells.Width();
    const int height = m_cells.Height();
    const int viewWidth = viewport()->width();
    if (m_strip.width() < viewWidth + TGlyphCells::Spare || m_strip.height() != height)
        m_strip = QImage(std::max(viewWidth, 1) + TGlyphCells::Spare, height, QImage::Format_RGB32);
    const uint32_t back = m_background.rgb();
    const size_t stride = size_t(m_strip.bytesPerLine()) / sizeof(uint32_t);
    uint32_t* strip = reinterpret_cast<uint32_t*>(m_strip.bits());
    m_placed.assign(size_t(text.size()), 0);
    int end = std::max(x, 0);
    bool rest = false;
    ForEachGlyph(text, [&](const TGlyph& g, int cell) {
        const int left = x + cell * width;
        if (left >= viewWidth)
            return false;
        const int cellsWidth = g.Cells * width;
        const int right = std::min(left + cellsWidth, viewWidth);
        end = right;
        if (right <= 0)
            return true;
        const int from = std::max(left, 0);
        const bool blank = g.Code == U' ' || g.Code < 0x20;
        if (const uint32_t* colours =
                !blank && g.Code < 128 ? m_cells.AsciiPixels(g.Code) : nullptr) {
            // Four pixels at a time, in line: a call per row of a narrow cell cost more than the
            // copy. What a row writes past its cell the next cell writes over, or it lies past
            // the end (the strip's spare columns).
            const int n = right - from;
            for (int row = 0; row < height; ++row) {
                uint32_t* to = strip + size_t(row) * stride + from;
                const uint32_t* in = colours + size_t(row) * size_t(width) + (from - left);
                for (int k = 0; k < n; k += 4)
                    std::memcpy(to + k, in + k, 4 * sizeof(uint32_t));
            }
            m_placed[size_t(g.Index)] = 1;
            return true;
        }
        if (const uint8_t* pixels =
                blank || g.Code < 128 ? nullptr : m_cells.Cell(g.Code, g.Cells)) {
            const uint32_t* palette = m_cells.Palette();
            for (int row = 0; row < height; ++row) {
                uint32_t* to = strip + size_t(row) * stride + from;
                const uint8_t* index = pixels + size_t(row) * size_t(cellsWidth) + (from - left);
                for (int k = 0; k < right - from; ++k)
                    to[k] = palette[index[k]];
            }
            m_placed[size_t(g.Index)] = 1;
            return true;
        }
        for (int row = 0; row < height; ++row)
            std::fill(strip + size_t(row) * stride + from, strip + size_t(row) * stride + right,
                      back);
        rest = rest || !blank;
        return true;
    });
    const int start = std::max(x, 0);
    if (end > start)
        painter.drawImage(QPoint(start, y), m_strip, QRect(start, 0, end - start, height));
    if (rest)
        DrawLine(painter, x, y + m_ascent, text, &m_placed);
}

void TReceivePane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    PlaceNewBelow();
    UpdateScrollBars();
}

void TReceivePane::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        Refresh();
    }
    if (event->type() == QEvent::LanguageChange) {
        m_newBelow->setText(tr("▼ 下面有新数据"));
        PlaceNewBelow();
    }
}

void TReceivePane::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        Copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    QScrollBar* v = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Home: // with or without Ctrl: there is no caret to move
        v->setValue(0);
        horizontalScrollBar()->setValue(0);
        break;
    case Qt::Key_End:
        v->setValue(v->maximum());
        break;
    case Qt::Key_PageUp:
        v->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        v->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TReceivePane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    CheckEpoch();
    const TPos pos = PosAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = pos;
    m_cursor = pos;
    m_dragging = true;
    viewport()->update();
}

void TReceivePane::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls on.
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_cursor = PosAt(point);
    viewport()->update();
}

void TReceivePane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void TReceivePane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    CheckEpoch();
    const TPos pos = PosAt(event->position().toPoint());
    const QString text = LineString(pos.Line, pos.Col + 65536);
    int begin = std::min(pos.Col, int(text.size()));
    int end = begin;
    if (end < text.size() && IsWordChar(text[end])) {
        while (begin > 0 && IsWordChar(text[begin - 1]))
            --begin;
        while (end < text.size() && IsWordChar(text[end]))
            ++end;
    } else if (begin > 0 && IsWordChar(text[begin - 1])) {
        // Clicked just after a word's last character.
        while (begin > 0 && IsWordChar(text[begin - 1]))
            --begin;
    }
    m_anchor = TPos{pos.Line, begin};
    m_cursor = TPos{pos.Line, end};
    m_dragging = false;
    viewport()->update();
}

QMenu* TReceivePane::CreateContextMenu() {
    auto* menu = new QMenu(this);
    QAction* copy = menu->addAction(tr("复制"));
    copy->setEnabled(HasSelection());
    connect(copy, &QAction::triggered, this, &TReceivePane::Copy);
    QAction* all = menu->addAction(tr("全选"));
    connect(all, &QAction::triggered, this, &TReceivePane::SelectAll);
    menu->addSeparator();
    QAction* lock = menu->addAction(tr("向上滚动时保持位置 (滚动锁定)(&K)"));
    lock->setCheckable(true);
    lock->setChecked(ScrollLock);
    connect(lock, &QAction::toggled, this, [this](bool on) { ScrollLock = on; });
    QAction* text = menu->addAction(tr("文本显示(&X)"));
    text->setCheckable(true);
    text->setChecked(m_textView);
    connect(text, &QAction::toggled, this, &TReceivePane::SetTextView);
    QAction* stamps = menu->addAction(tr("文本显示时间戳(&S)"));
    stamps->setCheckable(true);
    stamps->setChecked(m_lines.Stamps);
    connect(stamps, &QAction::toggled, this, &TReceivePane::SetTextStamps);
    if (ExtendMenu) {
        menu->addSeparator();
        ExtendMenu(menu);
    }
    return menu;
}

void TReceivePane::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(CreateContextMenu());
    menu->exec(event->globalPos());
}
