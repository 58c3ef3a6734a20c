#include "SendEdit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QStyleHints>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace {

bool IsEnter(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Alt and Meta combinations are the window's shortcuts: they never type, not
// even the character their key carries.
bool IsShortcutKey(const QKeyEvent* event) {
    return (event->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) &&
           !event->text().isEmpty() && !IsEnter(event);
}

// Whether the key types a character, as opposed to moving, deleting or
// running a command. Control characters typed with Ctrl count (Ctrl+B types
// 0x02), the editing shortcuts do not, and Alt combinations belong to the
// window's shortcuts.
bool IsTypedCharacter(QKeyEvent* event) {
    if (event->text().isEmpty() || event->key() == Qt::Key_Delete)
        return false;
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return false;
    for (auto key : {QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
                     QKeySequence::SelectAll, QKeySequence::Undo, QKeySequence::Redo})
        if (event->matches(key))
            return false;
    if ((mods & Qt::ControlModifier) && event->text().at(0).unicode() >= 0x20)
        return false;
    return true;
}

// The typed text, with Enter as a carriage return whatever the platform says.
QString TypedText(const QKeyEvent* event) {
    return IsEnter(event) ? QStringLiteral("\r") : event->text();
}

// A key event carrying text instead of the typed one. Enter goes on without
// modifiers, so that Shift+Enter starts a line like Enter does.
QKeyEvent Replaced(const QKeyEvent* event, const QString& text) {
    if (text == "\r")
        return QKeyEvent(event->type(), Qt::Key_Return, Qt::NoModifier, text);
    return QKeyEvent(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat(),
                     static_cast<quint16>(event->count()));
}

class TKeyFilter : public QObject {
public:
    TKeyFilter(QWidget* widget, std::function<bool(QString&)> filter)
        : QObject(widget), Filter(std::move(filter)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || Passing)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsShortcutKey(key))
            return true;
        if (!IsTypedCharacter(key))
            return false;
        const QString typed = TypedText(key);
        QString text = typed;
        if (!Filter(text))
            return true;
        if (text == typed)
            return false;
        QKeyEvent changed = Replaced(key, text);
        Passing = true;
        QCoreApplication::sendEvent(watched, &changed);
        Passing = false;
        return true;
    }

private:
    std::function<bool(QString&)> Filter;
    bool Passing = false;
};

} // namespace

void InstallKeyFilter(QWidget* widget, std::function<bool(QString& text)> filter) {
    widget->installEventFilter(new TKeyFilter(widget, std::move(filter)));
}

namespace {

// Marks a block that continues the line of the block above it. A block format, unlike a block's
// user state, is kept by the document's undo and redo, and a block joined to the one above it
// takes that one's format.
constexpr int ContinuesProperty = QTextFormat::UserProperty + 1;

QTextBlockFormat LineFormat() {
    return QTextBlockFormat();
}

QTextBlockFormat ContinuingFormat() {
    QTextBlockFormat format;
    format.setProperty(ContinuesProperty, true);
    return format;
}

// The characters QTextCursor::insertText starts a block at.
bool IsBlockBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0) ||
           c == QChar(0xfdd1);
}

} // namespace

TSendEdit::TSendEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(NoWrap);
    setWordWrapMode(QTextOption::WrapAnywhere);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int removed, int added) {
                StartsValid = false;
                if (OwnEdit)
                    return;
                // Positions after an earlier change move with this one.
                if (ChangedFrom >= 0 && ChangedTo >= position)
                    ChangedTo = std::max(ChangedTo + added - removed, position + added);
                else if (ChangedFrom >= 0)
                    ChangedTo = std::max(ChangedTo, position + added);
                else {
                    ChangedTo = position + added;
                    QMetaObject::invokeMethod(this, &TSendEdit::RefoldChanged,
                                              Qt::QueuedConnection);
                }
                ChangedFrom = ChangedFrom < 0 ? position : std::min(ChangedFrom, position);
            });
    // A cleared pane has no lines left to mark.
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (document()->isEmpty() && !extraSelections().isEmpty())
            setExtraSelections({});
        if (!WrapCheckPosted) {
            WrapCheckPosted = true;
            QMetaObject::invokeMethod(this, &TSendEdit::CheckWrap, Qt::QueuedConnection);
        }
    });
}

TSendEdit::~TSendEdit() = default;

// Once the edits of a pass are done: a long line shows wrapped at the pane's width, as one run of
// text, rather than as rows of a thousand characters of which the view shows one stretch.
void TSendEdit::CheckWrap() {
    WrapCheckPosted = false;
    const bool folded = LineStarts().size() < size_t(document()->blockCount());
    if (folded != (lineWrapMode() != NoWrap))
        setLineWrapMode(folded ? WidgetWidth : NoWrap);
}

bool TSendEdit::Continues(const QTextBlock& block) {
    return block.isValid() && block.blockFormat().boolProperty(ContinuesProperty);
}

const std::vector<int>& TSendEdit::LineStarts() const {
    if (StartsValid)
        return Starts;
    Starts.clear();
    // Nearly all blocks share one of two formats: look a format up only when it changes.
    int number = 0;
    int format = -1;
    bool continues = false;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next(), ++number) {
        if (b.blockFormatIndex() != format) {
            format = b.blockFormatIndex();
            continues = Continues(b);
        }
        if (number == 0 || !continues)
            Starts.push_back(number);
    }
    StartsValid = true;
    return Starts;
}

// From the start of the line to the end of its last block.
QTextCursor TSendEdit::LineCursor(int row) const {
    const std::vector<int>& starts = LineStarts();
    const QTextDocument* doc = document();
    const QTextBlock first = doc->findBlockByNumber(starts[size_t(row)]);
    const QTextBlock last = size_t(row) + 1 < starts.size()
                                ? doc->findBlockByNumber(starts[size_t(row) + 1]).previous()
                                : doc->lastBlock();
    QTextCursor c(first);
    c.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    return c;
}

void TSendEdit::MarkUnsent(int row) {
    if (row < 0 || size_t(row) >= LineStarts().size() || IsMarkedUnsent(row))
        return;
    QList<QTextEdit::ExtraSelection> marks = extraSelections();
    const QTextCursor line = LineCursor(row);
    // One mark for each block: a mark without a selection shades the whole width of its block.
    for (QTextBlock b = document()->findBlock(line.selectionStart());
         b.isValid() && b.position() <= line.selectionEnd(); b = b.next()) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(b);
        mark.format.setBackground(QColor(255, 214, 214));
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks << mark;
    }
    setExtraSelections(marks);
}

bool TSendEdit::IsMarkedUnsent(int row) const {
    for (const QTextEdit::ExtraSelection& mark : extraSelections())
        if (RowAt(mark.cursor.position()) == row)
            return true;
    return false;
}

void TSendEdit::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QTextCursor c = textCursor();
    InsertText(c, source->text());
    setTextCursor(c);
    ensureCursorVisible();
}

QMimeData* TSendEdit::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    QString text = SelectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    data->setText(text);
    return data;
}

QString TSendEdit::SelectedText() const {
    const QTextCursor c = textCursor();
    const int from = c.selectionStart();
    const int to = c.selectionEnd();
    QString text;
    for (QTextBlock b = document()->findBlock(from); b.isValid() && b.position() <= to;
         b = b.next()) {
        if (b.position() > from && !Continues(b))
            text += QChar::ParagraphSeparator; // the break before b is selected
        const int start = std::max(from - b.position(), 0);
        const int end = std::min(to - b.position(), b.length() - 1);
        if (end > start)
            text += b.text().mid(start, end - start);
    }
    return text;
}

void TSendEdit::InsertText(QTextCursor& c, const QString& text) {
    const bool own = std::exchange(OwnEdit, true);
    c.beginEditBlock();
    RemoveSelected(c);
    const int from = c.position();
    // Each line break starts a line, also within a long line's continuing block.
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsBlockBreak(text.at(i)))
            continue;
        if (i > start)
            c.insertText(text.mid(start, i - start));
        if (text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        c.insertBlock(LineFormat());
        start = i + 1;
    }
    if (start < text.size())
        c.insertText(start == 0 ? text : text.mid(start));
    Refold(from, c.position());
    c.endEditBlock();
    OwnEdit = own;
}

// A selection removed from the start of a block leaves that block with the format of the block
// the selection ended in: the block is put back to start a line, or to continue one, as it did.
void TSendEdit::KeepLineStart(int position, bool continues) {
    QTextCursor c(document());
    c.setPosition(position);
    if (Continues(c.block()) != continues && c.atBlockStart())
        c.setBlockFormat(continues ? ContinuingFormat() : LineFormat());
}

void TSendEdit::RemoveSelected(QTextCursor& c) {
    if (!c.hasSelection())
        return;
    const int start = c.selectionStart();
    const bool continues = Continues(c.document()->findBlock(start));
    c.removeSelectedText();
    KeepLineStart(start, continues);
}

void TSendEdit::Refold(int from, int to, bool join) {
    QTextDocument* doc = document();
    const bool own = std::exchange(OwnEdit, true);
    QTextCursor c(doc);
    // Opened at the first change only: an empty edit block would still end the undo step of
    // the typing before it.
    bool opened = false;
    const auto open = [&] {
        if (!std::exchange(opened, true))
            join ? c.joinPreviousEditBlock() : c.beginEditBlock();
    };
    QTextCursor end(doc); // moves with the edits made here
    end.setPosition(std::clamp(to, 0, doc->characterCount() - 1));
    QTextBlock b = doc->findBlock(std::clamp(from, 0, doc->characterCount() - 1));
    while (b.isValid()) {
        // The block after the span too: the block above it may have been emptied.
        const bool last = b.position() > end.position();
        if (Continues(b) && (b.position() == 0 || b.length() == 1 || b.previous().length() == 1)) {
            open();
            c.setPosition(b.position());
            if (b.position() == 0) {
                c.setBlockFormat(LineFormat());
            } else {
                c.setPosition(b.position() - 1);
                c.deleteChar(); // the joined block keeps the format of the one above
                b = doc->findBlock(c.position());
                continue;
            }
        }
        const int length = b.length() - 1;
        if (length > FoldChars) {
            // Equal parts: typing at a part's end then takes a while to fill it again.
            const int parts = (length + FoldChars - 1) / FoldChars;
            const int part = (length + parts - 1) / parts;
            open();
            const QString text = b.text();
            const int start = b.position();
            for (int k = parts - 1; k > 0; --k) {
                int at = k * part;
                if (text.at(at).isLowSurrogate() && text.at(at - 1).isHighSurrogate())
                    --at; // a character is never cut in two
                c.setPosition(start + at);
                c.insertBlock(ContinuingFormat());
            }
            b = doc->findBlock(start);
            for (int k = 1; k < parts; ++k)
                b = b.next();
        }
        if (last)
            break;
        b = b.next();
    }
    if (opened)
        c.endEditBlock();
    OwnEdit = own;
}

void TSendEdit::RefoldChanged() {
    if (ChangedFrom < 0)
        return;
    const int from = std::exchange(ChangedFrom, -1);
    const int to = std::exchange(ChangedTo, -1);
    // An undone edit brings back what was there before, folded or not as it was then: folding it
    // now would throw the steps to redo away.
    if (document()->availableRedoSteps() > 0)
        return;
    Refold(from, to, true);
}

// Enter ends the line at the caret; at a point where a long line goes on in the next block, the
// line ends there without an empty block between.
void TSendEdit::BreakLine() {
    QTextCursor c = textCursor();
    const bool own = std::exchange(OwnEdit, true);
    c.beginEditBlock();
    RemoveSelected(c);
    if (c.atBlockStart() && Continues(c.block())) {
        c.setBlockFormat(LineFormat());
    } else if (c.atBlockEnd() && Continues(c.block().next())) {
        c.movePosition(QTextCursor::NextBlock);
        c.setBlockFormat(LineFormat());
    } else {
        c.insertBlock(LineFormat());
    }
    Refold(c.block().previous().position(), c.position());
    c.endEditBlock();
    OwnEdit = own;
    setTextCursor(c);
    ensureCursorVisible();
}

int TSendEdit::LineCount() const {
    const std::vector<int>& starts = LineStarts();
    const QTextBlock last = document()->lastBlock();
    int n = int(starts.size());
    if (last.length() <= 1 && starts.back() == last.blockNumber()) // an empty last line
        --n;
    return n;
}

QString TSendEdit::Line(int row) const {
    if (row < 0 || size_t(row) >= LineStarts().size())
        return QString();
    const QTextCursor line = LineCursor(row);
    QString text;
    for (QTextBlock b = document()->findBlock(line.selectionStart());
         b.isValid() && b.position() <= line.selectionEnd(); b = b.next())
        text += b.text();
    return text;
}

QStringList TSendEdit::Lines() const {
    QStringList lines;
    const int n = LineCount();
    lines.reserve(n);
    for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next()) {
        if (b.blockNumber() != 0 && Continues(b))
            lines.last() += b.text();
        else if (lines.size() < n)
            lines.append(b.text());
        else
            break;
    }
    return lines;
}

void TSendEdit::SetLines(const QStringList& lines) {
    // As setPlainText: no undo step, the caret at the start.
    clear();
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    QTextCursor c(doc);
    InsertText(c, lines.join('\n'));
    doc->setUndoRedoEnabled(true);
    moveCursor(QTextCursor::Start);
}

void TSendEdit::SetLine(int row, const QString& text) {
    const int lines = int(LineStarts().size());
    QTextCursor c(document());
    if (row >= lines) {
        c.movePosition(QTextCursor::End);
        InsertText(c, QString(row - lines + 1, '\n') + text);
        return;
    }
    c = LineCursor(std::max(row, 0));
    InsertText(c, text);
}

void TSendEdit::AddLine(const QString& text) {
    QString line = text;
    line.replace("\r\n", "\n").replace('\r', '\n');
    const bool breakAtEnd = line.endsWith('\n');
    if (breakAtEnd)
        line.chop(1);
    QTextCursor c(document());
    QTextBlock last = document()->lastBlock();
    if (last.length() <= 1 && !Continues(last)) {
        // An empty last line (or an empty pane): the new line goes in front
        // of it, and an empty last line stays.
        c.setPosition(last.position());
        InsertText(c, line + '\n');
        return;
    }
    c.movePosition(QTextCursor::End);
    InsertText(c, '\n' + line + (breakAtEnd ? "\n" : ""));
}

int TSendEdit::RowAt(int position, int* column) const {
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return -1;
    const std::vector<int>& starts = LineStarts();
    const int number = block.blockNumber();
    const auto start = std::upper_bound(starts.begin(), starts.end(), number) - 1;
    if (column != nullptr) {
        // Less the breaks between the line's blocks, which are no characters of it.
        const QTextBlock first = document()->findBlockByNumber(*start);
        *column = position - first.position() - (number - *start);
    }
    return int(start - starts.begin());
}

int TSendEdit::CaretRow() const {
    return RowAt(textCursor().position());
}

void TSendEdit::CaretToEnd() {
    ensureCursorVisible();
    moveCursor(QTextCursor::End);
    ensureCursorVisible();
}

bool TSendEdit::EndsWithLineBreak() const {
    const QTextBlock last = document()->lastBlock();
    return document()->blockCount() > 1 && last.length() <= 1 && !Continues(last);
}

// What the pane does with a key the window let through.
void TSendEdit::EditKey(QKeyEvent* event) {
    if (isReadOnly()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    QTextCursor c = textCursor();
    if (IsEnter(event) && !(event->modifiers() & Qt::ShiftModifier)) {
        BreakLine();
        event->accept();
        return;
    }
    // Where a long line goes on in the next block there is no character between the blocks:
    // Backspace and Delete take the one on the other side (and join the blocks).
    const bool back = event->key() == Qt::Key_Backspace &&
                      !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    const bool forward = event->matches(QKeySequence::Delete);
    if (!c.hasSelection() && ((back && c.atBlockStart() && Continues(c.block())) ||
                              (forward && c.atBlockEnd() && Continues(c.block().next())))) {
        const QTextBlock other = back ? c.block().previous() : c.block().next();
        c.movePosition(back ? QTextCursor::PreviousCharacter : QTextCursor::NextCharacter,
                       QTextCursor::KeepAnchor, other.length() > 1 ? 2 : 1);
        InsertText(c, QString());
        setTextCursor(c);
        ensureCursorVisible();
        event->accept();
        return;
    }
    // A key that may make a block too long, or join two, has the refolding in its undo step.
    const QString text = event->text();
    const bool typing = !text.isEmpty() && text.at(0) >= u' ';
    const bool wrap =
        !event->matches(QKeySequence::Undo) && !event->matches(QKeySequence::Redo) &&
        (c.hasSelection() || c.block().length() + text.size() > FoldChars + 1 ||
         (!typing && c.atBlockStart()) ||
         (c.atBlockEnd() && (forward || event->matches(QKeySequence::DeleteEndOfWord) ||
                             event->matches(QKeySequence::DeleteEndOfLine))));
    if (!wrap) {
        QPlainTextEdit::keyPressEvent(event);
        RefoldChanged();
        return;
    }
    c.beginEditBlock();
    const int selected = c.hasSelection() ? c.selectionStart() : -1;
    const bool continues = Continues(c.document()->findBlock(selected));
    QPlainTextEdit::keyPressEvent(event);
    if (selected >= 0)
        KeepLineStart(selected, continues);
    const QTextCursor caret = textCursor();
    Refold(caret.block().position(), caret.position());
    c.endEditBlock();
    ChangedFrom = ChangedTo = -1; // refolded above
    ensureCursorVisible();
}

void TSendEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        if (OnMenuKey)
            OnMenuKey();
        if (PopupMenu)
            PopupMenu->popup(viewport()->mapToGlobal(cursorRect().bottomLeft()));
        event->accept();
        return;
    }
    if (IsShortcutKey(event)) {
        event->ignore();
        return;
    }
    if (!OnKeyPress || !IsTypedCharacter(event)) {
        EditKey(event);
        return;
    }
    const QString typed = TypedText(event);
    QString text = typed;
    if (!OnKeyPress(text)) {
        event->accept();
        return;
    }
    if (text == typed && !IsEnter(event)) {
        EditKey(event);
        return;
    }
    QKeyEvent changed = Replaced(event, text);
    EditKey(&changed);
}

void TSendEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!OnKeyPress || commit.isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        RefoldChanged();
        return;
    }
    QString kept;
    for (qsizetype i = 0; i < commit.size(); ++i) {
        qsizetype n = commit.at(i).isHighSurrogate() && i + 1 < commit.size() ? 2 : 1;
        QString one = commit.mid(i, n);
        i += n - 1;
        if (OnKeyPress(one))
            kept += one;
    }
    QInputMethodEvent changed(event->preeditString(), event->attributes());
    changed.setCommitString(kept, event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&changed);
    RefoldChanged();
}

void TSendEdit::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown)
        OnMouseDown();
    QPlainTextEdit::mousePressEvent(event);
}

void TSendEdit::contextMenuEvent(QContextMenuEvent* event) {
    if (!PopupMenu) {
        QPlainTextEdit::contextMenuEvent(event);
        return;
    }
    // popup, not exec: the window keeps running (and receiving) meanwhile.
    PopupMenu->popup(event->globalPos());
    event->accept();
}
