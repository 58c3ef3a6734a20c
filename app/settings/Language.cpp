#include "Language.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

namespace {

// Owned by the application object, so that it goes with it.
QPointer<QTranslator> Installed;
TLanguage Current = TLanguage::Chinese;

} // namespace

bool SetLanguage(TLanguage language) {
    if (Installed) {
        QCoreApplication::removeTranslator(Installed);
        delete Installed;
    }
    Current = TLanguage::Chinese;
    if (language == TLanguage::Chinese)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral(":/i18n/kestrel_en.qm"))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    Installed = translator;
    Current = language;
    return true;
}

TLanguage CurrentLanguage() {
    return Current;
}

std::optional<TLanguage> LanguageFromName(const QString& name) {
    const QString n = name.trimmed().toLower();
    if (n == "zh")
        return TLanguage::Chinese;
    if (n == "en")
        return TLanguage::English;
    return std::nullopt;
}
