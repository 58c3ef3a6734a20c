#pragma once
// The script window's editor: a plain text editor with line numbers in a margin, JavaScript
// highlighting, and a line marked as the place of an error. Window thread only.

#include <QPlainTextEdit>

class TScriptEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TScriptEditor(QWidget* parent = nullptr);
    // Marks line (from 1) and shows it; 0 takes the mark away.
    void MarkErrorLine(int line);
    int ErrorLine() const { return MarkedLine; }
    int MarginWidth() const;
    void PaintMargin(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateMargin(const QRect& rect, int dy);
    void ShowMarks();
    QWidget* Margin = nullptr;
    int MarkedLine = 0;
};
