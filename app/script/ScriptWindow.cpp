#include "ScriptWindow.h"

#include "IniFormat.h"
#include "Rtf.h"
#include "ScriptEditor.h"
#include "ScriptRunner.h"
#include "SettingsFile.h"
#include "SettingsKeys.h"
#include "Threadcomm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

enum TColumn { ColEnabled, ColKind, ColPattern, ColReplyKind, ColReply, ColDelay, ColCount, ColumnCount };

const char* const Filter = QT_TRANSLATE_NOOP("TScriptWindow", "脚本(*.js);;所有文件(*)");

} // namespace

TScriptWindow::TScriptWindow(TWThreadComm& comm, QWidget* parent)
    : QWidget(parent, Qt::Window), Comm(comm) {
    setObjectName(QStringLiteral("ScriptWindow"));
    Runner = std::make_unique<TScriptRunner>(Comm);
    Replier = std::make_unique<TAutoReplier>([&comm](const uint8_t* b, uint32_t n) {
        if (comm.Send(b, n))
            return TSendResult::Sent;
        return comm.IsOpen() || comm.ControlRTS.load() ? TSendResult::Full : TSendResult::Closed;
    });

    auto button = [this](const char* name) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return b;
    };
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("ScriptTabs"));

    // The script tab.
    auto* scriptPage = new QWidget(Tabs);
    auto* bar = new QHBoxLayout;
    BtnOpen = button("BtnOpenScript");
    BtnSave = button("BtnSaveScript");
    BtnRun = button("BtnRunScript");
    BtnStop = button("BtnStopScript");
    LblFile = new QLabel(scriptPage);
    LblFile->setObjectName(QStringLiteral("LblScriptFile"));
    for (QWidget* w : {static_cast<QWidget*>(BtnOpen), static_cast<QWidget*>(BtnSave),
                       static_cast<QWidget*>(BtnRun), static_cast<QWidget*>(BtnStop)})
        bar->addWidget(w);
    bar->addWidget(LblFile, 1);
    Editor = new TScriptEditor(scriptPage);
    Log = new QPlainTextEdit(scriptPage);
    Log->setObjectName(QStringLiteral("ScriptLog"));
    Log->setReadOnly(true);
    Log->setMaximumBlockCount(LogLines);
    LblResult = new QLabel(scriptPage);
    LblResult->setObjectName(QStringLiteral("LblScriptResult"));
    LblResult->setWordWrap(true);
    LblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* split = new QSplitter(Qt::Vertical, scriptPage);
    split->addWidget(Editor);
    split->addWidget(Log);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto* scriptLayout = new QVBoxLayout(scriptPage);
    scriptLayout->addLayout(bar);
    scriptLayout->addWidget(split, 1);
    scriptLayout->addWidget(LblResult);
    Tabs->addTab(scriptPage, QString());

    // The replies tab.
    auto* rulesPage = new QWidget(Tabs);
    RuleTable = new QTableWidget(0, ColumnCount, rulesPage);
    RuleTable->setObjectName(QStringLiteral("ReplyRuleTable"));
    RuleTable->horizontalHeader()->setSectionResizeMode(ColPattern, QHeaderView::Stretch);
    RuleTable->horizontalHeader()->setSectionResizeMode(ColReply, QHeaderView::Stretch);
    RuleTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    BtnAddRule = button("BtnAddRule");
    BtnRemoveRule = button("BtnRemoveRule");
    auto* ruleBar = new QHBoxLayout;
    ruleBar->addWidget(BtnAddRule);
    ruleBar->addWidget(BtnRemoveRule);
    ruleBar->addStretch(1);
    auto* rulesLayout = new QVBoxLayout(rulesPage);
    rulesLayout->addLayout(ruleBar);
    rulesLayout->addWidget(RuleTable, 1);
    Tabs->addTab(rulesPage, QString());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tabs);
    resize(720, 520);

    connect(BtnOpen, &QToolButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QString(), QFileInfo(FilePath).path(),
                                                          tr(Filter));
        if (!path.isEmpty())
            OpenScript(path);
    });
    connect(BtnSave, &QToolButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, QString(), FilePath, tr(Filter));
        if (!path.isEmpty())
            SaveScript(path);
    });
    connect(BtnRun, &QToolButton::clicked, this, &TScriptWindow::Run);
    connect(BtnStop, &QToolButton::clicked, this, &TScriptWindow::Stop);
    connect(Runner.get(), &TScriptRunner::Logged, Log, &QPlainTextEdit::appendPlainText);
    connect(Runner.get(), &TScriptRunner::Finished, this, &TScriptWindow::ShowResult);
    connect(Runner.get(), &TScriptRunner::BaudRateSet, this, &TScriptWindow::BaudRateSet);
    connect(Runner.get(), &TScriptRunner::ParitySet, this, &TScriptWindow::ParitySet);
    connect(BtnAddRule, &QToolButton::clicked, this, [this] {
        AddRuleRow(TReplyRule{});
        RulesEdited();
    });
    connect(BtnRemoveRule, &QToolButton::clicked, this, [this] {
        const int row = RuleTable->currentRow();
        if (row >= 0) {
            RuleTable->removeRow(row);
            RulesEdited();
        }
    });
    connect(RuleTable, &QTableWidget::itemChanged, this, [this] { RulesEdited(); });
    // Counts are read while the window shows, at a pace the eye follows; a hidden window never
    // wakes the program.
    CountTimer = new QTimer(this);
    CountTimer->setInterval(250);
    connect(CountTimer, &QTimer::timeout, this, &TScriptWindow::ShowRuleCounts);
    auto* run = new QShortcut(QKeySequence(Qt::Key_F9), this);
    connect(run, &QShortcut::activated, this, &TScriptWindow::Run);

    RetranslateUi();
    LoadRules();
    BtnStop->setEnabled(false);
}

TScriptWindow::~TScriptWindow() {
    Runner->Stop();
}

void TScriptWindow::Received(const uint8_t* bytes, uint32_t count) {
    Runner->Received(bytes, count);
    Replier->Received(bytes, count);
}

void TScriptWindow::ModemChanged(bool cts, bool dsr, bool ri, bool rlsd) {
    Runner->ModemChanged(cts, dsr, ri, rlsd);
}

void TScriptWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowRuleCounts();
    CountTimer->start();
}

void TScriptWindow::hideEvent(QHideEvent* event) {
    CountTimer->stop();
    QWidget::hideEvent(event);
}

void TScriptWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

void TScriptWindow::RetranslateUi() {
    setWindowTitle(tr("脚本与自动应答"));
    Tabs->setTabText(0, tr("脚本"));
    Tabs->setTabText(1, tr("自动应答"));
    BtnOpen->setText(tr("打开..."));
    BtnSave->setText(tr("保存..."));
    BtnRun->setText(tr("运行"));
    BtnRun->setToolTip(tr("运行脚本 (F9)"));
    BtnStop->setText(tr("停止"));
    BtnAddRule->setText(tr("添加规则"));
    BtnRemoveRule->setText(tr("删除规则"));
    RuleTable->setHorizontalHeaderLabels(
        {tr("启用"), tr("匹配方式"), tr("收到"), tr("应答方式"), tr("应答"), tr("延时/毫秒"), tr("次数")});
    ShowFileName();
}

void TScriptWindow::ShowFileName() {
    LblFile->setText(FilePath.isEmpty() ? tr("未命名") : QFileInfo(FilePath).fileName());
    LblFile->setToolTip(FilePath);
}

bool TScriptWindow::OpenScript(const QString& path) {
    QString source, error;
    if (!LoadScriptFile(path, &source, &error)) {
        LblResult->setText(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error));
        return false;
    }
    Editor->setPlainText(source);
    FilePath = path;
    ShowFileName();
    LblResult->clear();
    return true;
}

bool TScriptWindow::SaveScript(const QString& path) {
    // A device, a FIFO or a symlink to one is never written through.
    if (IsOtherThanRegularFile(path)) {
        LblResult->setText(tr("%1 不是普通文件, 不能保存到它。").arg(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(Editor->toPlainText().toUtf8()) < 0 ||
        !file.commit()) {
        LblResult->setText(tr("无法保存脚本：%1").arg(file.errorString()));
        return false;
    }
    FilePath = path;
    ShowFileName();
    return true;
}

void TScriptWindow::Run() {
    if (Runner->Running())
        return;
    Editor->MarkErrorLine(0);
    LblResult->setText(tr("运行中..."));
    const QString name = FilePath.isEmpty() ? tr("未命名") : QFileInfo(FilePath).fileName();
    Runner->Start(name, Editor->toPlainText());
    BtnRun->setEnabled(false);
    BtnStop->setEnabled(true);
}

void TScriptWindow::Stop() {
    Runner->Stop();
}

bool TScriptWindow::Running() const {
    return Runner->Running();
}

void TScriptWindow::ShowResult(const TScriptResult& result) {
    BtnRun->setEnabled(true);
    BtnStop->setEnabled(false);
    if (result.Code == 0) {
        LblResult->setStyleSheet(QString());
        LblResult->setText(tr("脚本结束（%1秒）").arg(result.Seconds, 0, 'f', 3));
    } else {
        LblResult->setStyleSheet(QStringLiteral("color: #C00000"));
        LblResult->setText(result.Text());
        Editor->MarkErrorLine(result.Line);
    }
    emit ScriptFinished(result.Code);
}

// ---- automatic replies ----

void TScriptWindow::AddRuleRow(const TReplyRule& rule) {
    const bool filling = std::exchange(Filling, true);
    const int row = RuleTable->rowCount();
    RuleTable->insertRow(row);
    auto* enabled = new QTableWidgetItem;
    enabled->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    enabled->setCheckState(rule.Enabled ? Qt::Checked : Qt::Unchecked);
    RuleTable->setItem(row, ColEnabled, enabled);
    auto* kind = new QComboBox(RuleTable);
    kind->addItems({tr("文本"), tr("十六进制"), tr("正则表达式")});
    kind->setCurrentIndex(int(rule.Kind));
    RuleTable->setCellWidget(row, ColKind, kind);
    RuleTable->setItem(row, ColPattern, new QTableWidgetItem(QString::fromStdString(rule.Pattern)));
    auto* replyKind = new QComboBox(RuleTable);
    replyKind->addItems({tr("文本"), tr("十六进制")});
    replyKind->setCurrentIndex(rule.ReplyHex ? 1 : 0);
    RuleTable->setCellWidget(row, ColReplyKind, replyKind);
    RuleTable->setItem(row, ColReply, new QTableWidgetItem(QString::fromStdString(rule.Reply)));
    RuleTable->setItem(row, ColDelay, new QTableWidgetItem(QString::number(rule.DelayMs)));
    auto* count = new QTableWidgetItem(QStringLiteral("0"));
    count->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    RuleTable->setItem(row, ColCount, count);
    for (QComboBox* box : {kind, replyKind})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { RulesEdited(); });
    Filling = filling;
}

std::vector<TReplyRule> TScriptWindow::Rules() const {
    std::vector<TReplyRule> rules;
    for (int row = 0; row < RuleTable->rowCount(); ++row) {
        TReplyRule r;
        r.Enabled = RuleTable->item(row, ColEnabled)->checkState() == Qt::Checked;
        r.Kind = TPatternKind(qobject_cast<QComboBox*>(RuleTable->cellWidget(row, ColKind))->currentIndex());
        r.Pattern = RuleTable->item(row, ColPattern)->text().toStdString();
        r.ReplyHex = qobject_cast<QComboBox*>(RuleTable->cellWidget(row, ColReplyKind))->currentIndex() == 1;
        r.Reply = RuleTable->item(row, ColReply)->text().toStdString();
        bool ok = false;
        const uint delay = RuleTable->item(row, ColDelay)->text().trimmed().toUInt(&ok);
        r.DelayMs = ok ? std::min(delay, 3600000u) : 0;
        rules.push_back(r);
    }
    return rules;
}

void TScriptWindow::SetRules(const std::vector<TReplyRule>& rules) {
    Filling = true;
    RuleTable->setRowCount(0);
    for (const TReplyRule& r : rules)
        AddRuleRow(r);
    Filling = false;
    RulesEdited();
}

uint64_t TScriptWindow::Fired(int rule) const {
    return Replier->Fired(size_t(rule));
}

void TScriptWindow::RulesEdited() {
    if (Filling)
        return;
    const std::vector<TReplyRule> rules = Rules();
    Filling = true;
    for (int row = 0; row < int(rules.size()); ++row) {
        // A rule that cannot fire is red, the reason in its tip.
        const QString error = QString::fromStdString(RuleError(rules[size_t(row)]));
        for (int col : {ColPattern, ColReply}) {
            QTableWidgetItem* item = RuleTable->item(row, col);
            item->setBackground(error.isEmpty() ? QBrush() : QBrush(QColor(0xFF, 0xB0, 0xB0)));
            item->setToolTip(error);
        }
        RuleTable->item(row, ColCount)->setText(QStringLiteral("0"));
    }
    Filling = false;
    Replier->SetRules(rules);
    SaveRules();
}

void TScriptWindow::ShowRuleCounts() {
    if (!isVisible())
        return;
    const bool filling = std::exchange(Filling, true);
    for (int row = 0; row < RuleTable->rowCount(); ++row) {
        const QString text = QString::number(Replier->Fired(size_t(row)));
        if (RuleTable->item(row, ColCount)->text() != text)
            RuleTable->item(row, ColCount)->setText(text);
    }
    Filling = filling;
}

// The rules are kept in the settings file as Qt writes an array: ReplyRules/size and
// ReplyRules/<n>/<field>, n from 1. Read and written through the settings file's own reader and
// writer, which never open what is not a regular file.
namespace {
constexpr int MostRules = 1000;
constexpr qsizetype MostRuleText = 4096;

QString RuleKey(int i, const char* field) {
    return QStringLiteral("%1/%2/%3").arg(QLatin1String(settings::ReplyRules)).arg(i + 1).arg(QLatin1String(field));
}
} // namespace

void TScriptWindow::LoadRules() {
    const settings::TFileRead file = settings::ReadFile();
    const QSettings::SettingsMap& s = file.Map;
    std::vector<TReplyRule> rules;
    const int n = s.value(QLatin1String(settings::ReplyRules) + QStringLiteral("/size")).toInt();
    for (int i = 0; i < std::min(n, MostRules); ++i) {
        TReplyRule r;
        r.Enabled = s.value(RuleKey(i, "Enabled"), 1).toInt() != 0;
        r.Kind = TPatternKind(std::clamp(s.value(RuleKey(i, "Kind"), 0).toInt(), 0, 2));
        r.Pattern = s.value(RuleKey(i, "Pattern")).toString().left(MostRuleText).toStdString();
        r.ReplyHex = s.value(RuleKey(i, "ReplyHex"), 0).toInt() != 0;
        r.Reply = s.value(RuleKey(i, "Reply")).toString().left(MostRuleText).toStdString();
        r.DelayMs = uint32_t(std::clamp(s.value(RuleKey(i, "DelayMs"), 0).toLongLong(), 0LL, 3600000LL));
        rules.push_back(r);
    }
    SetRules(rules);
}

void TScriptWindow::SaveRules() const {
    settings::TFileRead file = settings::ReadFile();
    if (file.NotRegular)
        return;
    QSettings::SettingsMap& s = file.Map;
    const QString prefix = QLatin1String(settings::ReplyRules) + QLatin1Char('/');
    for (auto it = s.begin(); it != s.end();)
        it = it.key().startsWith(prefix) ? s.erase(it) : std::next(it);
    const std::vector<TReplyRule> rules = Rules();
    const int n = std::min(int(rules.size()), MostRules);
    s.insert(prefix + QStringLiteral("size"), n);
    for (int i = 0; i < n; ++i) {
        const TReplyRule& r = rules[size_t(i)];
        s.insert(RuleKey(i, "Enabled"), r.Enabled ? 1 : 0);
        s.insert(RuleKey(i, "Kind"), int(r.Kind));
        s.insert(RuleKey(i, "Pattern"), QString::fromStdString(r.Pattern).left(MostRuleText));
        s.insert(RuleKey(i, "ReplyHex"), r.ReplyHex ? 1 : 0);
        s.insert(RuleKey(i, "Reply"), QString::fromStdString(r.Reply).left(MostRuleText));
        s.insert(RuleKey(i, "DelayMs"), r.DelayMs);
    }
    settings::WriteFile(s);
}
