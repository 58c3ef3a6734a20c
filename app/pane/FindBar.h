#pragma once
// TFindBar: find in the receive pane. It lies over the foot of the pane's
// view: what to look for (text as the text view shows it, hex bytes with "??"
// for any byte, a regular expression, or a hex offset to go to), whether case
// matters, the selected match and the count as "i/N", and why a pattern is
// not one. Enter goes to the next match, Shift+Enter to the previous, Esc
// closes the bar.
//
// The matches are counted by a TFindCount on a thread of its own over
// snapshots of the pane's store; while the bar is open it hands over a newer
// snapshot when bytes have arrived (the count goes on from where it stood)
// and starts over when the pane is cleared or a file opened. The selected
// match and the other matches in view are marked in the pane, in either view.
//
// "Only matching lines" filters the text view (like grep): the count then
// also collects the text lines that hold a match (TFoundLines), and the pane
// shows those as they are found, following new ones at the end as it follows
// new data. Turning it on or off keeps the selected match, when in view, at
// its row, and otherwise the line at the top. The hex view is not filtered.
// User-interface thread only.

#include "FindCount.h"
#include "ReceivePane.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

class TFindBar : public QWidget {
    Q_OBJECT
public:
    // The kinds in the order of the list.
    enum EKind { KindText, KindHex, KindRegex, KindOffset };

    // A child of pane, hidden until opened.
    explicit TFindBar(TReceivePane* pane);
    ~TFindBar() override;

    // Shows the bar with the text to find selected (Ctrl+F).
    void Open();
    // Shows it for an offset to go to (Ctrl+G).
    void OpenOffset();
    void Close();

    // The selected match, when there is one.
    std::optional<TFindPattern::TMatch> Current() const { return m_current; }
    // Goes to the next (or previous) match; when the count has not yet come
    // that far, it goes there as soon as it has.
    void Step(bool forward);
    // Shows only the text lines that hold a match, in the text view.
    void SetFilter(bool on);
    bool Filter() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Retranslate();
    void Place();
    void Recompile();
    void Poll();
    void ShowCount();
    void Select(const TFindPattern::TMatch& match);
    void GoToOffset();
    void Marks(int64_t line, const QString& text, std::vector<TReceivePane::TMark>& marks);
    // The first run position shown at the top of the view.
    uint64_t TopPosition() const;
    // The pane's line that shows run position pos, in the view shown.
    int64_t LineOf(uint64_t pos) const;
    void ShowError(const QString& message);
    // Hands the count's lines to the pane when the filter is on and a
    // pattern is counted, none otherwise; keep as in TReceivePane::SetFilter.
    // Keeps run text line keep at row (when keep >= 0), now or once counted.
    void ApplyFilter(int64_t keep, int row);
    // The run text line to keep in place when the filter changes and its
    // row: the selected match's, when it is in view, or the top line's.
    int64_t KeptLine(int& row) const;
    void Compile();
    void FollowFilter();
    void UpdateEnabled();

    TReceivePane* m_pane;
    QComboBox* m_kind = nullptr;
    QLineEdit* m_text = nullptr;
    QToolButton* m_prev = nullptr;
    QToolButton* m_next = nullptr;
    QToolButton* m_close = nullptr;
    QCheckBox* m_caseless = nullptr;
    QCheckBox* m_filter = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_message = nullptr;
    QTimer* m_poll = nullptr;

    TFindCount m_finder;
    bool m_valid = false;       // a pattern is being counted
    uint64_t m_epoch = 0;       // of the store counted
    uint64_t m_revision = 0;    // of the last snapshot handed over
    QElapsedTimer m_since;      // since the count started
    std::optional<TFindPattern::TMatch> m_current;
    std::optional<uint64_t> m_rank;
    // A step waiting for the count: forward or back, from where.
    std::optional<bool> m_pendingForward;
    uint64_t m_pendingFrom = 0;
    // Matches in view, found once per change of what is shown.
    std::vector<TFindPattern::TMatch> m_inView;
    uint64_t m_inViewFrom = 0, m_inViewTo = 0, m_inViewKey = 0;
    // The filtered lines the pane's scroll range was last set for, and a
    // run text line to bring to a row once the count has come that far.
    int64_t m_filterShown = 0;
    int64_t m_placeLine = -1;
    int m_placeRow = 0;
};
