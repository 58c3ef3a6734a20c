#include "ScriptEditor.h"

#include <QPainter>
#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextBlock>

namespace {

class TMargin : public QWidget {
public:
    explicit TMargin(TScriptEditor* editor) : QWidget(editor), Editor(editor) {}
    QSize sizeHint() const override { return {Editor->MarginWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { Editor->PaintMargin(event); }

private:
    TScriptEditor* Editor;
};

// Keywords, the script's own functions, strings, numbers and comments.
class TJsHighlighter : public QSyntaxHighlighter {
public:
    explicit TJsHighlighter(QTextDocument* doc) : QSyntaxHighlighter(doc) {
        QTextCharFormat keyword;
        keyword.setForeground(QColor(0x00, 0x00, 0xA0));
        keyword.setFontWeight(QFont::Bold);
        QTextCharFormat function;
        function.setForeground(QColor(0x80, 0x00, 0x80));
        QTextCharFormat number;
        number.setForeground(QColor(0xA0, 0x50, 0x00));
        QTextCharFormat string;
        string.setForeground(QColor(0x00, 0x80, 0x00));
        Comment.setForeground(QColor(0x80, 0x80, 0x80));
        Rules = {
            {QRegularExpression("\\b(var|let|const|function|return|if|else|for|while|do|break|"
                                "continue|new|typeof|instanceof|true|false|null|undefined|this|"
                                "throw|try|catch|finally|switch|case|default|of|in)\\b"),
             keyword},
            {QRegularExpression("\\b(send|sendHex|expect|receive|sleep|log|fail|setRts|setDtr|lines|"
                                "setBaud|setParity|crc16|sum8|xor8|hex|bytes|protocolFrame|"
                                "onReceive|test)\\b"),
             function},
            {QRegularExpression("\\b(0[xX][0-9A-Fa-f]+|\\d+(\\.\\d+)?)\\b"), number},
            {QRegularExpression("\"(\\\\.|[^\"\\\\])*\"|'(\\\\.|[^'\\\\])*'|`(\\\\.|[^`\\\\])*`"), string},
            {QRegularExpression("//[^\n]*"), Comment},
        };
    }

protected:
    void highlightBlock(const QString& text) override {
        for (const auto& [re, format] : Rules) {
            auto it = re.globalMatch(text);
            while (it.hasNext()) {
                const QRegularExpressionMatch m = it.next();
                setFormat(int(m.capturedStart()), int(m.capturedLength()), format);
            }
        }
        // Block comments across lines.
        setCurrentBlockState(0);
        qsizetype start = previousBlockState() == 1 ? 0 : text.indexOf(QLatin1String("/*"));
        while (start >= 0) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), start);
            qsizetype length;
            if (end < 0) {
                setCurrentBlockState(1);
                length = text.size() - start;
            } else {
                length = end - start + 2;
            }
            setFormat(int(start), int(length), Comment);
            start = text.indexOf(QLatin1String("/*"), start + length);
        }
    }

private:
    std::vector<std::pair<QRegularExpression, QTextCharFormat>> Rules;
    QTextCharFormat Comment;
};

} // namespace

TScriptEditor::TScriptEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("ScriptEditor"));
    Margin = new TMargin(this);
    new TJsHighlighter(document());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    setFont(mono);
    setTabStopDistance(fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
    connect(this, &QPlainTextEdit::blockCountChanged, this,
            [this] { setViewportMargins(MarginWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, &TScriptEditor::UpdateMargin);
    // An edit takes the error mark away: the line it named may have moved.
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (MarkedLine)
            MarkErrorLine(0);
    });
    setViewportMargins(MarginWidth(), 0, 0, 0);
}

int TScriptEditor::MarginWidth() const {
    int digits = 1;
    for (int n = std::max(1, blockCount()); n >= 10; n /= 10)
        ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3);
}

void TScriptEditor::UpdateMargin(const QRect& rect, int dy) {
    if (dy)
        Margin->scroll(0, dy);
    else
        Margin->update(0, rect.y(), Margin->width(), rect.height());
}

void TScriptEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect cr = contentsRect();
    Margin->setGeometry(QRect(cr.left(), cr.top(), MarginWidth(), cr.height()));
}

void TScriptEditor::PaintMargin(QPaintEvent* event) {
    QPainter p(Margin);
    p.fillRect(event->rect(), QColor(0xF0, 0xF0, 0xF0));
    QTextBlock block = firstVisibleBlock();
    int number = block.blockNumber() + 1;
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            if (number == MarkedLine)
                p.fillRect(0, top, Margin->width(), height, QColor(0xFF, 0x60, 0x60));
            p.setPen(number == MarkedLine ? Qt::white : QColor(0x80, 0x80, 0x80));
            p.drawText(0, top, Margin->width() - 4, height, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(number));
        }
        block = block.next();
        top += height;
        ++number;
    }
}

void TScriptEditor::MarkErrorLine(int line) {
    MarkedLine = line > 0 && line <= blockCount() ? line : 0;
    ShowMarks();
    if (MarkedLine) {
        QTextCursor c(document()->findBlockByNumber(MarkedLine - 1));
        setTextCursor(c);
        ensureCursorVisible();
    }
    Margin->update();
}

void TScriptEditor::ShowMarks() {
    QList<QTextEdit::ExtraSelection> marks;
    if (MarkedLine) {
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(QColor(0xFF, 0xD0, 0xD0));
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        mark.cursor = QTextCursor(document()->findBlockByNumber(MarkedLine - 1));
        marks << mark;
    }
    setExtraSelections(marks);
}
