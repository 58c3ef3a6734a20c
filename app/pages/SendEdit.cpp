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

TSendEdit::TSendEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(NoWrap);
    setWordWrapMode(QTextOption::WrapAnywhere);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int removed, int added) {
                if (added > 0 || (removed > 0 && Folded()))
                    CheckFold(position, added);
            });
    // A cleared pane has no lines left to mark.
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (document()->isEmpty() && !extraSelections().isEmpty())
            setExtraSelections({});
    });
}

void TSendEdit::MarkUnsent(int row) {
    const QTextBlock block = document()->findBlockByNumber(row);
    if (!block.isValid() || IsMarkedUnsent(row))
        return;
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(block);
    mark.format.setBackground(QColor(255, 214, 214));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    QList<QTextEdit::ExtraSelection> marks = extraSelections();
    marks << mark;
    setExtraSelections(marks);
}

bool TSendEdit::IsMarkedUnsent(int row) const {
    for (const QTextEdit::ExtraSelection& mark : extraSelections())
        if (mark.cursor.blockNumber() == row)
            return true;
    return false;
}

// Folds when the changed text made a long line; unfolds when text was taken away and no long
// line is left. Only the changed blocks are looked at, unless the pane is folded.
void TSendEdit::CheckFold(int position, int added) {
    const QTextDocument* doc = document();
    auto isLong = [](const QTextBlock& b) { return b.length() > FoldChars; };
    bool longLine = false;
    for (QTextBlock b = doc->findBlock(position); b.isValid() && b.position() <= position + added;
         b = b.next())
        longLine = longLine || isLong(b);
    if (!longLine && Folded())
        for (QTextBlock b = doc->begin(); b.isValid() && !longLine; b = b.next())
            longLine = isLong(b);
    if (longLine != Folded()) {
        setLineWrapMode(longLine ? WidgetWidth : NoWrap);
        HoldBlink();
    }
}

// To place the caret, Qt works out the character boundaries of its whole line each time it
// draws it: with a line of a million characters, tens of milliseconds at each blink. While such
// a line is in the focused pane the caret stays lit instead (the blink is the application's
// setting, so it is given back when the pane loses the focus or the line).
void TSendEdit::HoldBlink() {
    if (!Folded() || !hasFocus()) {
        GiveBlinkBack();
        return;
    }
    if (HeldFlashTime < 0) {
        HeldFlashTime = QGuiApplication::styleHints()->cursorFlashTime();
        QGuiApplication::styleHints()->setCursorFlashTime(0);
    }
}

void TSendEdit::GiveBlinkBack() {
    if (HeldFlashTime >= 0)
        QGuiApplication::styleHints()->setCursorFlashTime(std::exchange(HeldFlashTime, -1));
}

TSendEdit::~TSendEdit() {
    GiveBlinkBack();
}

void TSendEdit::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    HoldBlink();
}

void TSendEdit::focusOutEvent(QFocusEvent* event) {
    GiveBlinkBack(); // first, so that the pane that takes the focus blinks as it should
    QPlainTextEdit::focusOutEvent(event);
}

void TSendEdit::insertFromMimeData(const QMimeData* source) {
    if (!Folded() && source != nullptr && source->hasText()) {
        const QString text = source->text();
        qsizetype run = 0;
        for (const QChar c : text) {
            run = c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator ? 0 : run + 1;
            if (run > FoldChars) {
                setLineWrapMode(WidgetWidth);
                HoldBlink();
                break;
            }
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

int TSendEdit::LineCount() const {
    const QTextDocument* doc = document();
    int n = doc->blockCount();
    if (doc->lastBlock().length() <= 1) // the block's own end mark only: empty
        --n;
    return n;
}

QString TSendEdit::Line(int row) const {
    QTextBlock block = document()->findBlockByNumber(row);
    return block.isValid() ? block.text() : QString();
}

QStringList TSendEdit::Lines() const {
    QStringList lines;
    const int n = LineCount();
    lines.reserve(n);
    for (QTextBlock b = document()->firstBlock(); b.isValid() && lines.size() < n; b = b.next())
        lines.append(b.text());
    return lines;
}

void TSendEdit::SetLines(const QStringList& lines) {
    setPlainText(lines.join('\n'));
}

void TSendEdit::SetLine(int row, const QString& text) {
    QTextCursor c(document());
    const int blocks = document()->blockCount();
    if (row >= blocks) {
        c.movePosition(QTextCursor::End);
        c.insertText(QString(row - blocks + 1, '\n') + text);
        return;
    }
    QTextBlock block = document()->findBlockByNumber(std::max(row, 0));
    c.setPosition(block.position());
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    c.insertText(text);
}

void TSendEdit::AddLine(const QString& text) {
    QString line = text;
    line.replace("\r\n", "\n").replace('\r', '\n');
    const bool breakAtEnd = line.endsWith('\n');
    if (breakAtEnd)
        line.chop(1);
    QTextCursor c(document());
    QTextBlock last = document()->lastBlock();
    if (last.length() <= 1) {
        // An empty last line (or an empty pane): the new line goes in front
        // of it, and an empty last line stays.
        c.setPosition(last.position());
        c.insertText(line + '\n');
        return;
    }
    c.movePosition(QTextCursor::End);
    c.insertText('\n' + line + (breakAtEnd ? "\n" : ""));
}

int TSendEdit::CaretRow() const {
    return textCursor().blockNumber();
}

void TSendEdit::CaretToEnd() {
    ensureCursorVisible();
    moveCursor(QTextCursor::End);
    ensureCursorVisible();
}

bool TSendEdit::EndsWithLineBreak() const {
    return document()->blockCount() > 1 && document()->lastBlock().length() <= 1;
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
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    const QString typed = TypedText(event);
    QString text = typed;
    if (!OnKeyPress(text)) {
        event->accept();
        return;
    }
    if (text == typed && !IsEnter(event)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    QKeyEvent changed = Replaced(event, text);
    QPlainTextEdit::keyPressEvent(&changed);
}

void TSendEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!OnKeyPress || commit.isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
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
