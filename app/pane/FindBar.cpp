#include "FindBar.h"

#include "CodePage.h"
#include "HexDump.h"
#include "TextRender.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Bytes of a text line rendered to place marks on it: marks further along a
// single huge line are not drawn (the line is cut there when shown too).
constexpr uint64_t MarkLineBytes = 64 << 10;
// Matches looked up at once for the marks in view.
constexpr uint64_t ViewWindow = 64 << 10;
constexpr int PollMs = 50;
// A count that takes longer than this shows how far it has come.
constexpr qint64 ProgressAfterMs = 500;

} // namespace

TFindBar::TFindBar(TReceivePane* pane) : QWidget(pane), m_pane(pane) {
    setObjectName("FindBar");
    setAutoFillBackground(true);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(3, 2, 3, 2);
    rows->setSpacing(2);
    auto* top = new QHBoxLayout;
    auto* bottom = new QHBoxLayout;
    rows->addLayout(top);
    rows->addLayout(bottom);

    m_kind = new QComboBox(this);
    m_kind->setObjectName("findKind");
    m_kind->addItems({QString(), QString(), QString(), QString()});
    m_text = new QLineEdit(this);
    m_text->setObjectName("findText");
    m_text->installEventFilter(this);
    const auto button = [&](const char* name, const QString& text) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(text);
        b->setAutoRaise(true);
        return b;
    };
    m_prev = button("findPrev", QStringLiteral("\u25B2"));
    m_next = button("findNext", QStringLiteral("\u25BC"));
    m_close = button("findClose", QStringLiteral("\u2715"));
    top->addWidget(m_kind);
    top->addWidget(m_text, 1);
    top->addWidget(m_prev);
    top->addWidget(m_next);
    top->addWidget(m_close);

    m_caseless = new QCheckBox(this);
    m_caseless->setObjectName("findCaseless");
    m_count = new QLabel(QStringLiteral("0/0"), this);
    m_count->setObjectName("findCount");
    m_message = new QLabel(this);
    m_message->setObjectName("findMessage");
    {
        QPalette p = m_message->palette();
        p.setColor(QPalette::WindowText, QColor(200, 0, 0));
        m_message->setPalette(p);
    }
    m_filter = new QCheckBox(this);
    m_filter->setObjectName("findFilter");
    bottom->addWidget(m_caseless);
    bottom->addWidget(m_filter);
    bottom->addWidget(m_count);
    bottom->addWidget(m_message, 1);

    m_poll = new QTimer(this);
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &TFindBar::Poll);
    connect(m_text, &QLineEdit::textEdited, this, &TFindBar::Recompile);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &TFindBar::Recompile);
    connect(m_caseless, &QCheckBox::toggled, this, &TFindBar::Recompile);
    connect(m_prev, &QToolButton::clicked, this, [this] { Step(false); });
    connect(m_next, &QToolButton::clicked, this, [this] {
        if (m_kind->currentIndex() == KindOffset)
            GoToOffset();
        else
            Step(true);
    });
    connect(m_close, &QToolButton::clicked, this, &TFindBar::Close);
    connect(m_filter, &QCheckBox::toggled, this, [this] {
        int row = 0;
        const int64_t keep = KeptLine(row);
        ApplyFilter(keep, row);
    });
    connect(pane, &TReceivePane::ViewChanged, this, &TFindBar::UpdateEnabled);

    pane->installEventFilter(this);
    // The pane outlives what it holds (its children go after its members),
    // and the bar may go first.
    pane->LineMarks = [bar = QPointer<TFindBar>(this)](int64_t line, const QString& text,
                                                       std::vector<TReceivePane::TMark>& marks) {
        if (bar)
            bar->Marks(line, text, marks);
    };
    Retranslate();
    hide();
}

TFindBar::~TFindBar() = default;

void TFindBar::Retranslate() {
    m_kind->setItemText(KindText, tr("文本"));
    m_kind->setItemText(KindHex, tr("十六进制"));
    m_kind->setItemText(KindRegex, tr("正则表达式"));
    m_kind->setItemText(KindOffset, tr("跳到偏移"));
    m_caseless->setText(tr("忽略大小写"));
    m_filter->setText(tr("只显示匹配的行"));
    m_filter->setToolTip(tr("文本显示时只显示含有匹配的行"));
    // PCRE2 reads the bytes as they arrived: decoding them first would lose
    // the mapping of every match back to its bytes.
    m_kind->setItemData(KindRegex,
                        tr("正则表达式按代码页 936 的字节匹配：一个汉字是两个字节，“.”只匹配一个字节，"
                           "任意一个汉字要写成“..”"),
                        Qt::ToolTipRole);
    m_prev->setToolTip(tr("上一个"));
    m_next->setToolTip(tr("下一个"));
    m_close->setToolTip(tr("关闭"));
    if (isVisible())
        Recompile();
}

void TFindBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(event);
}

void TFindBar::Place() {
    const int h = sizeHint().height();
    setGeometry(0, std::max(0, m_pane->height() - h), m_pane->width(), h);
}

void TFindBar::Open() {
    if (m_kind->currentIndex() == KindOffset) {
        m_kind->setCurrentIndex(KindText);
        m_text->clear();
    }
    Place();
    const bool was = isVisible();
    show();
    raise();
    m_text->setFocus();
    m_text->selectAll();
    if (!was)
        Recompile();
    m_poll->start();
}

void TFindBar::OpenOffset() {
    Place();
    show();
    raise();
    if (m_kind->currentIndex() != KindOffset) {
        m_text->clear();
        m_kind->setCurrentIndex(KindOffset);
    }
    m_text->setFocus();
    m_text->selectAll();
    m_poll->start();
}

void TFindBar::Close() {
    int row = 0;
    const int64_t keep = KeptLine(row);
    hide();
    m_poll->stop();
    m_finder.Stop();
    m_valid = false;
    ApplyFilter(keep, row);
    m_current.reset();
    m_rank.reset();
    m_pendingForward.reset();
    m_inView.clear();
    m_pane->viewport()->update();
    m_pane->setFocus();
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pane && event->type() == QEvent::Resize && isVisible())
        Place();
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_kind->currentIndex() == KindOffset)
                GoToOffset();
            else
                Step(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFindBar::ShowError(const QString& message) {
    m_message->setText(message);
}

void TFindBar::Recompile() {
    const int64_t keep = m_pane->TextView() ? m_pane->RunTextLine(m_pane->TopLine()) : -1;
    Compile();
    UpdateEnabled();
    ApplyFilter(keep, 0);
    Poll();
}

void TFindBar::Compile() {
    m_finder.Stop();
    m_valid = false;
    m_current.reset();
    m_rank.reset();
    m_pendingForward.reset();
    m_inView.clear();
    ShowError(QString());
    m_pane->viewport()->update();
    const int kind = m_kind->currentIndex();
    m_caseless->setEnabled(kind == KindText || kind == KindRegex);
    if (kind == KindOffset) {
        m_count->clear();
        return;
    }
    const QString text = m_text->text();
    QByteArray bytes;
    if (kind == KindHex) {
        bytes = text.toLatin1();
        if (QString::fromLatin1(bytes) != text) {
            ShowError(tr("只能输入十六进制数字、?? 和空格"));
            ShowCount();
            return;
        }
    } else {
        bool ok = true;
        bytes = ToCodePage(text, &ok);
        if (!ok) {
            ShowError(tr("含有代码页 936 无法表示的字符"));
            ShowCount();
            return;
        }
    }
    const EFindKind engineKind = kind == KindHex     ? EFindKind::Hex
                                 : kind == KindRegex ? EFindKind::Regex
                                                     : EFindKind::Text;
    const TFindPattern::TCompiled compiled = TFindPattern::Compile(
        engineKind, std::string_view(bytes.constData(), size_t(bytes.size())), m_caseless->isChecked());
    switch (compiled.Error) {
    case EFindError::None:
        break;
    case EFindError::Empty:
        ShowError(tr("请输入要查找的内容"));
        break;
    case EFindError::OddHex:
        ShowError(tr("十六进制数字须成对：每个字节两位"));
        break;
    case EFindError::NotHex:
        ShowError(tr("只能输入十六进制数字、?? 和空格"));
        break;
    case EFindError::TooLong:
        ShowError(tr("查找内容太长：最多 %1 字节").arg(TFindPattern::MaxPatternBytes));
        break;
    case EFindError::AllWildcard:
        ShowError(tr("至少要有一个确定的字节"));
        break;
    case EFindError::Regex:
        ShowError(tr("正则表达式有误，位置 %1：%2")
                      .arg(compiled.Offset)
                      .arg(QString::fromUtf8(compiled.Message.c_str())));
        break;
    }
    if (!compiled.Pattern) {
        ShowCount();
        return;
    }
    const TReceiveStore& store = m_pane->Store();
    m_epoch = store.Epoch();
    m_revision = store.Revision();
    m_finder.Start(compiled.Pattern, store.Snapshot(), m_filter->isChecked());
    m_valid = true;
    m_since.start();
    // The first match from the top of the view on, as soon as it is found.
    m_pendingForward = true;
    m_pendingFrom = TopPosition();
}

void TFindBar::Poll() {
    if (!isVisible())
        return;
    const TReceiveStore& store = m_pane->Store();
    if (m_valid && store.Epoch() != m_epoch) {
        // Cleared or opened: the count starts over on the new session.
        m_epoch = store.Epoch();
        m_revision = store.Revision();
        m_current.reset();
        m_rank.reset();
        m_inView.clear();
        m_pendingForward.reset(); // nothing is selected until the user steps
        m_finder.Start(m_finder.Pattern(), store.Snapshot(), m_finder.CollectsLines());
        m_since.start();
        ApplyFilter(-1, 0);
    } else if (m_valid && store.Revision() != m_revision) {
        m_revision = store.Revision();
        m_finder.Update(store.Snapshot());
        m_inView.clear();
        m_pane->viewport()->update();
    }
    const uint64_t begin = uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine;
    if (m_current && m_kind->currentIndex() != KindOffset && m_current->Pos < begin) {
        m_current.reset(); // dropped at the memory limit
        m_rank.reset();
    }
    if (m_pendingForward) {
        TFindPattern::TMatch match;
        switch (m_finder.Next(store, std::max(m_pendingFrom, begin), *m_pendingForward, match)) {
        case TFindCount::EFound::Match:
            m_pendingForward.reset();
            Select(match);
            break;
        case TFindCount::EFound::None:
            m_pendingForward.reset();
            break;
        case TFindCount::EFound::NotYet:
            break;
        }
    }
    FollowFilter();
    if (m_current && m_valid) {
        uint64_t rank = 0;
        if (m_finder.Rank(store, *m_current, rank))
            m_rank = rank;
        else
            m_rank.reset();
    }
    ShowCount();
}

void TFindBar::ShowCount() {
    if (m_kind->currentIndex() == KindOffset)
        return;
    if (!m_valid) {
        m_count->setText(QStringLiteral("0/0"));
        return;
    }
    const TFindCount::TState state = m_finder.State();
    QString text = QStringLiteral("%1/%2").arg(m_rank ? *m_rank + 1 : 0).arg(state.Total);
    if (state.Running) {
        if (m_since.elapsed() >= ProgressAfterMs && state.Goal > state.Begin) {
            const uint64_t done = std::clamp(state.Done, state.Begin, state.Goal) - state.Begin;
            text += QStringLiteral("  ") +
                    tr("计数中… %1%").arg(int(done * 100 / (state.Goal - state.Begin)));
        } else {
            text += QStringLiteral("  ") + tr("计数中…");
        }
    }
    m_count->setText(text);
}

void TFindBar::Step(bool forward) {
    if (!m_valid) {
        Recompile();
        return;
    }
    const uint64_t from = m_current ? (forward ? m_current->Pos + 1 : m_current->Pos) : TopPosition();
    m_pendingForward = forward;
    m_pendingFrom = from;
    Poll();
}

void TFindBar::Select(const TFindPattern::TMatch& match) {
    m_current = match;
    m_rank.reset();
    int col = 0;
    if (!m_pane->TextView())
        col = int(m_pane->Store().Leading().size()) + HexDumpOffsetLen + 3 * int(match.Pos % HexDumpBytesPerLine);
    m_pane->ShowLine(LineOf(match.Pos), col);
    m_pane->viewport()->update();
}

void TFindBar::GoToOffset() {
    QString text = m_text->text().trimmed();
    if (text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    text.remove(QLatin1Char(' '));
    bool ok = false;
    const uint64_t pos = text.toULongLong(&ok, 16);
    if (!ok) {
        ShowError(tr("请输入十六进制偏移，如偏移栏所示"));
        return;
    }
    const TReceiveStore& store = m_pane->Store();
    const uint64_t begin = uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine;
    if (pos < begin || pos >= store.TextIndex().End()) {
        ShowError(tr("偏移 %1 不在会话中").arg(text.toUpper()));
        return;
    }
    ShowError(QString());
    Select(TFindPattern::TMatch{pos, 1});
}

uint64_t TFindBar::TopPosition() const {
    const TReceiveStore& store = m_pane->Store();
    const int64_t runStart = (store.DroppedLines() > 0 ? 1 : 0) + store.LinesBeforeRun();
    const int64_t k = m_pane->TopLine();
    const uint64_t begin = uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine;
    if (k <= runStart && !m_pane->Filtered())
        return begin;
    if (!m_pane->TextView())
        return uint64_t(k - runStart + store.RunFirstLine()) * HexDumpBytesPerLine;
    const TTextIndex& index = store.TextIndex();
    const int64_t t = m_pane->RunTextLine(k);
    if (t < 0)
        return k >= m_pane->LineTotal() ? index.End() : begin;
    return index.Line(t).Begin;
}

int64_t TFindBar::LineOf(uint64_t pos) const {
    const TReceiveStore& store = m_pane->Store();
    const int64_t runStart = (store.DroppedLines() > 0 ? 1 : 0) + store.LinesBeforeRun();
    if (!m_pane->TextView())
        return runStart + int64_t(pos / HexDumpBytesPerLine) - store.RunFirstLine();
    return m_pane->TextViewLine(store.TextIndex().LineAt(pos));
}

void TFindBar::Marks(int64_t line, const QString&, std::vector<TReceivePane::TMark>& marks) {
    if (!isVisible() || (!m_valid && !m_current))
        return;
    const TReceiveStore& store = m_pane->Store();
    const int64_t runStart = (store.DroppedLines() > 0 ? 1 : 0) + store.LinesBeforeRun();
    const bool textView = m_pane->TextView();
    if (line < runStart && !textView)
        return;
    uint64_t a = 0, b = 0;
    const TTextIndex& index = store.TextIndex();
    if (!textView) {
        a = uint64_t(line - runStart + store.RunFirstLine()) * HexDumpBytesPerLine;
        b = a + HexDumpBytesPerLine;
    } else {
        const int64_t t = m_pane->RunTextLine(line);
        if (t < 0)
            return;
        const TTextIndex::TLine l = index.Line(t);
        a = l.Begin;
        b = std::min(l.End, l.Begin + MarkLineBytes);
    }
    // The matches near the lines in view, looked up once while nothing changes.
    const uint64_t key = m_finder.State().Generation * 1000003u + store.Revision() * 31u + (textView ? 1 : 0);
    if (m_valid && (key != m_inViewKey || a < m_inViewFrom || b > m_inViewTo)) {
        m_inViewKey = key;
        m_inViewFrom = a;
        m_inViewTo = std::max(b, a + ViewWindow);
        m_inView = m_finder.MatchesIn(store, m_inViewFrom, m_inViewTo);
        if (m_inView.size() >= 4096)
            m_inViewTo = m_inView.back().Pos;
    }
    std::vector<TFindPattern::TMatch> here;
    for (const TFindPattern::TMatch& m : m_inView) {
        if (m.Pos < b && m.Pos + m.Len > a)
            here.push_back(m);
    }
    if (m_current && m_current->Pos < b && m_current->Pos + m_current->Len > a &&
        std::none_of(here.begin(), here.end(), [&](const auto& m) { return m.Pos == m_current->Pos; }))
        here.push_back(*m_current);
    if (here.empty())
        return;
    const auto isCurrent = [&](const TFindPattern::TMatch& m) { return m_current && m_current->Pos == m.Pos; };
    if (!textView) {
        const int lead = int(store.Leading().size()) + HexDumpOffsetLen;
        for (const TFindPattern::TMatch& m : here) {
            const int from = int(std::max(m.Pos, a) - a), to = int(std::min(m.Pos + m.Len, b) - a);
            marks.push_back({lead + 3 * from, lead + 3 * to - 1, isCurrent(m)});
            marks.push_back({lead + HexDumpCharCol + from, lead + HexDumpCharCol + to, isCurrent(m)});
        }
        return;
    }
    // Where each byte of the line begins in its text: the line rendered again.
    uint64_t last = a;
    for (const TFindPattern::TMatch& m : here)
        last = std::max(last, std::min(m.Pos + m.Len, b));
    std::vector<uint8_t> bytes(size_t(last - a));
    const size_t got = GatherRunBytes(store, a, bytes.size(), bytes.data());
    TTextRender render(CodePagePairUtf8);
    std::vector<size_t> at(got + 1, 0); // UTF-8 offset where byte i begins
    size_t lineEnd = SIZE_MAX;
    for (size_t i = 0; i < got; ++i) {
        at[i] = lineEnd != SIZE_MAX ? lineEnd : render.Partial().size();
        if (lineEnd == SIZE_MAX && (bytes[i] == '\r' || bytes[i] == '\n'))
            lineEnd = render.Partial().size();
        if (lineEnd == SIZE_MAX)
            render.Feed(&bytes[i], 1, 0, [](const std::string&) {});
    }
    at[got] = lineEnd != SIZE_MAX ? lineEnd : render.Partial().size();
    const std::string& utf8 = render.Partial();
    const int stamp = m_pane->TextStamps() ? int(TTextLines::StampCells) : 0;
    const auto column = [&](uint64_t pos) {
        const size_t i = size_t(std::min<uint64_t>(pos, a + got) - a);
        return stamp + int(QString::fromUtf8(utf8.data(), qsizetype(std::min(at[i], utf8.size()))).size());
    };
    for (const TFindPattern::TMatch& m : here) {
        const int from = column(std::max(m.Pos, a)), to = column(std::min(m.Pos + m.Len, b));
        marks.push_back({from, std::max(to, from + 1), isCurrent(m)});
    }
}

void TFindBar::UpdateEnabled() {
    m_filter->setEnabled(m_pane->TextView() && m_kind->currentIndex() != KindOffset);
}

bool TFindBar::Filter() const {
    return m_filter->isChecked();
}

void TFindBar::SetFilter(bool on) {
    m_filter->setChecked(on);
}

int64_t TFindBar::KeptLine(int& row) const {
    row = 0;
    if (!m_pane->TextView())
        return -1;
    const int64_t top = m_pane->TopLine();
    if (m_current) {
        const int64_t t = m_pane->Store().TextIndex().LineAt(m_current->Pos);
        const int64_t k = m_pane->TextViewLine(t);
        if (m_pane->RunTextLine(k) == t && k >= top && k < top + m_pane->VisibleLines()) {
            row = int(k - top);
            return t;
        }
    }
    return m_pane->RunTextLine(top);
}

void TFindBar::ApplyFilter(int64_t keep, int row) {
    m_placeLine = -1;
    const bool on = isVisible() && m_filter->isChecked() && m_valid && m_kind->currentIndex() != KindOffset;
    if (!on) {
        if (m_pane->LineFilter()) {
            m_pane->SetFilter(nullptr);
            if (keep >= 0 && m_pane->TextView())
                m_pane->PlaceTextLine(keep, row);
        }
        return;
    }
    if (!m_finder.CollectsLines()) {
        // Counted without the lines: counted again, collecting them.
        const TReceiveStore& store = m_pane->Store();
        m_epoch = store.Epoch();
        m_revision = store.Revision();
        m_finder.Start(m_finder.Pattern(), store.Snapshot(), true);
        m_rank.reset();
        m_inView.clear();
        m_since.start();
    }
    m_pane->SetFilter(m_finder.Lines());
    m_filterShown = m_pane->LineTotal();
    if (keep >= 0 && m_pane->TextView()) {
        m_pane->PlaceTextLine(keep, row);
        // Until the count has come as far as the line, it is placed again.
        m_placeLine = keep;
        m_placeRow = row;
    }
}

void TFindBar::FollowFilter() {
    if (!m_pane->Filtered())
        return;
    const int64_t count = m_pane->LineTotal();
    if (m_placeLine >= 0) {
        const bool reached = m_pane->TextViewLine(m_placeLine) < count || !m_finder.State().Running;
        m_filterShown = count;
        m_pane->PlaceTextLine(m_placeLine, m_placeRow);
        if (reached)
            m_placeLine = -1;
        return;
    }
    if (count == m_filterShown)
        return;
    // Followed to the end while the last line was in view, as new data is.
    const bool wasAtEnd = m_filterShown == 0 || m_filterShown - 1 < m_pane->TopLine() + m_pane->VisibleLines();
    m_filterShown = count;
    if (wasAtEnd)
        m_pane->ScrollToEnd();
    else
        m_pane->Refresh();
}
