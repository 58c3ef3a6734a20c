#include "TimedRun.h"

#include "Dialogs.h"
#include "ErrorStats.h"
#include "FieldMark.h"

#include <QCoreApplication>
#include <QLineEdit>

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool ReadStartInterval(QWidget* parent, const QLineEdit* field, int64_t& value) {
    const std::string text = field->text().toStdString();
    if (ParseWholeNumber(text, value))
        return true;
    dialogs::Message(parent, FromUtf8(NotIntegerMessage(text)));
    return false;
}

uint32_t NextIntervalOf(QLineEdit* field, uint32_t& last,
                        const std::function<uint32_t(int64_t)>& rule) {
    const std::string text = field->text().toStdString();
    int64_t v = 0;
    if (!ParseWholeNumber(text, v)) {
        const QString why = FromUtf8(NotIntegerMessage(text)) +
                            QCoreApplication::translate("Fieldmark", " — 仍按%1毫秒发送").arg(last);
        if (field->toolTip() != why)
            MarkField(field, why);
        return last;
    }
    ClearFieldMark(field);
    last = rule(v);
    return last;
}

QString CountCaption(const QString& caption, uint32_t count) {
    return count == 0 ? caption
                      : QCoreApplication::translate("ErrorStats", CountPattern)
                            .arg(caption, QString::number(count));
}
