#pragma once
// TSendEdit: the send pane. A plain-text editor whose typed characters pass a
// filter first (the window's SendEditKeyPress), that tells the window of every
// mouse press before acting on it, and that opens the window's popup menu.
// Lines follow the rich-text control the window was designed around: an empty
// last line does not count, so "the last line" is the last one with a line
// break or text after the line above it. GUI thread only.

#include <QPlainTextEdit>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>

#include <functional>
#include <vector>

class QMenu;

class TSendEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TSendEdit(QWidget* parent = nullptr);
    ~TSendEdit() override;

    // A line longer than this many characters is held in several blocks of the document (the
    // text between line breaks), each continuing the one above it: Qt lays a block out whole to
    // draw the caret in it, which for a line of a million characters costs tens of milliseconds
    // at each blink and key. The line functions below, the selection's text and what is copied
    // out see whole lines. While such a line is in the pane, lines wrap at the pane's width (a
    // block is never longer than FoldChars, so wrapping it is cheap).
    static constexpr int FoldChars = 1024;

    // Sees each typed character (as text: one character, or a surrogate pair)
    // before the pane inserts it; may change it. False drops it.
    std::function<bool(QString& text)> OnKeyPress;
    // Runs on every mouse-button press, before the pane or the menu acts.
    std::function<void()> OnMouseDown;
    // Runs on Shift+F10, before the menu opens at the caret.
    std::function<void()> OnMenuKey;
    // Opened by the context-menu request (without running OnMouseDown again).
    QMenu* PopupMenu = nullptr;

    // Lines, not counting an empty last line.
    int LineCount() const;
    QString Line(int row) const;
    QStringList Lines() const;
    void SetLines(const QStringList& lines);
    // Replaces the text of row (a row past the last creates it).
    void SetLine(int row, const QString& text);
    // Adds text as a new line after the last one. Line breaks in text start
    // further lines; one at its end leaves an empty last line.
    void AddLine(const QString& text);
    int CaretRow() const;
    // The line a document position is on, and (in column) its place in that line.
    int RowAt(int position, int* column = nullptr) const;
    // The selected text with a paragraph separator (U+2029) for each line break in it, as
    // QTextCursor::selectedText gives it, but none where a long line continues in the next block.
    QString SelectedText() const;
    // Scrolls to the caret, then puts the caret at the end of the text.
    void CaretToEnd();
    bool EndsWithLineBreak() const;
    // Marks a line that was typed but not sent (shaded, until the pane is cleared).
    void MarkUnsent(int row);
    bool IsMarkedUnsent(int row) const;

protected:
    // Pasted or dropped text goes in already held in short blocks, so that no long block is ever
    // laid out.
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static bool Continues(const QTextBlock& block);
    // The first block of each line, by block number; rebuilt after each change of the document.
    const std::vector<int>& LineStarts() const;
    QTextCursor LineCursor(int row) const;
    void EditKey(QKeyEvent* event);
    void BreakLine();
    void RemoveSelected(QTextCursor& c);
    void KeepLineStart(int position, bool continues);
    // Inserts text at c in place of its selection: \n, \r, \r\n and U+2029 end lines.
    void InsertText(QTextCursor& c, const QString& text);
    // Splits the blocks between the two positions that are longer than FoldChars, and joins an
    // empty continuing block to the block above it (or a block above it that is empty). join:
    // as part of the undo step before.
    void Refold(int from, int to, bool join = false);
    // The changes made outside the pane's own edits (an undo, a cut from a menu), refolded.
    void RefoldChanged();

    mutable std::vector<int> Starts;
    mutable bool StartsValid = false;
    bool OwnEdit = false; // the document's changes are the pane's own, already folded
    int ChangedFrom = -1; // the span RefoldChanged looks at, -1 when there is none
    int ChangedTo = -1;
    void CheckWrap();
    bool WrapCheckPosted = false;
};

// Runs filter on each character typed into widget (a line edit, say), as
// TSendEdit does with OnKeyPress. The filter object is a child of widget.
void InstallKeyFilter(QWidget* widget, std::function<bool(QString& text)> filter);
