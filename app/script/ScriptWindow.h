#pragma once
// TScriptWindow: the window of scripts and automatic replies, opened from the main window
// (Ctrl+Shift+R, the send pane's menu). The script tab: an editor with the file's name, Open,
// Save, Run, Stop and the script's log. The replies tab: the table of reply rules, each enabled on
// its own, with the count of how often it fired; a rule that cannot fire is shown red with the
// reason. The rules are kept with the settings.
//
// Threads: Received and ModemChanged are called on the worker thread (from the main window's
// handlers of its events) and only hand the bytes to the runner and the replier, which copy them.
// Everything else runs on the window's thread. The object exists before the worker is resumed
// and outlives its events.

#include "ReplyRules.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QTableWidget;
class QTabWidget;
class QTimer;
class QToolButton;
class TScriptEditor;
class TScriptRunner;
class TWThreadComm;
struct TScriptResult;

class TScriptWindow : public QWidget {
    Q_OBJECT
public:
    explicit TScriptWindow(TWThreadComm& comm, QWidget* parent = nullptr);
    ~TScriptWindow() override;

    // Worker thread.
    void Received(const uint8_t* bytes, uint32_t count);
    void ModemChanged(bool cts, bool dsr, bool ri, bool rlsd);

    bool OpenScript(const QString& path);
    bool SaveScript(const QString& path);
    void Run();
    void Stop();
    bool Running() const;
    // The rules as the table holds them, and a replacement (both saved with the settings).
    std::vector<TReplyRule> Rules() const;
    void SetRules(const std::vector<TReplyRule>& rules);
    uint64_t Fired(int rule) const;

    // Log lines kept; older ones go.
    static constexpr int LogLines = 5000;

signals:
    // For tests: a run has ended.
    void ScriptFinished(int code);
    // The script has set the port's rate or parity; the worker has it already.
    void BaudRateSet(quint32 rate);
    void ParitySet(int parity);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void RetranslateUi();
    void ShowResult(const TScriptResult& result);
    void ShowFileName();
    void AddRuleRow(const TReplyRule& rule);
    void RulesEdited();
    void ShowRuleCounts();
    void LoadRules();
    void SaveRules() const;

    TWThreadComm& Comm;
    std::unique_ptr<TScriptRunner> Runner;
    std::unique_ptr<TAutoReplier> Replier;
    QTabWidget* Tabs = nullptr;
    TScriptEditor* Editor = nullptr;
    QPlainTextEdit* Log = nullptr;
    QLabel* LblFile = nullptr;
    QLabel* LblResult = nullptr;
    QToolButton* BtnOpen = nullptr;
    QToolButton* BtnSave = nullptr;
    QToolButton* BtnRun = nullptr;
    QToolButton* BtnStop = nullptr;
    QTableWidget* RuleTable = nullptr;
    QToolButton* BtnAddRule = nullptr;
    QToolButton* BtnRemoveRule = nullptr;
    QTimer* CountTimer = nullptr;
    QString FilePath;
    bool Filling = false; // the table is being filled from code
};
