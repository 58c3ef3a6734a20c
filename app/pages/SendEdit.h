#pragma once
// TSendEdit: the send pane. A plain-text editor whose typed characters pass a
// filter first (the window's SendEditKeyPress), that tells the window of every
// mouse press before acting on it, and that opens the window's popup menu.
// Lines follow the rich-text control the window was designed around: an empty
// last line does not count, so "the last line" is the last one with a line
// break or text after the line above it. GUI thread only.

#include <QPlainTextEdit>
#include <QStringList>

#include <functional>

class QMenu;

class TSendEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TSendEdit(QWidget* parent = nullptr);
    ~TSendEdit() override;

    // Lines are not wrapped, unless one is longer than this many characters: a line that long
    // laid out whole costs the window's thread a redraw of all of it at each blink of the caret,
    // so while one is in the pane, lines fold at the pane's width (the text is as it was).
    static constexpr int FoldChars = 4096;
    bool Folded() const { return lineWrapMode() != NoWrap; }

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
    // Scrolls to the caret, then puts the caret at the end of the text.
    void CaretToEnd();
    bool EndsWithLineBreak() const;
    // Marks a line that was typed but not sent (shaded, until the pane is cleared).
    void MarkUnsent(int row);
    bool IsMarkedUnsent(int row) const;

protected:
    void CheckFold(int position, int added);
    // A paste that brings a long line folds the pane before the text goes in: the line is then
    // laid out once, folded, rather than whole and then again.
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void HoldBlink();
    void GiveBlinkBack();
    int HeldFlashTime = -1; // the application's blink, while this pane holds it still
};

// Runs filter on each character typed into widget (a line edit, say), as
// TSendEdit does with OnKeyPress. The filter object is a child of widget.
void InstallKeyFilter(QWidget* widget, std::function<bool(QString& text)> filter);
