#include "Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace {

// Owned by the application object, so that it goes with it.
QPointer<QTranslator> Installed;
// Qt's own texts (standard buttons, the file dialog) from Debian's qt6-translations-l10n.
QPointer<QTranslator> QtInstalled;
TLanguage Current = TLanguage::Chinese;

} // namespace

bool SetLanguage(TLanguage language) {
    for (QPointer<QTranslator>* t : {&Installed, &QtInstalled})
        if (*t) {
            QCoreApplication::removeTranslator(*t);
            delete t->data();
        }
    Current = TLanguage::Chinese;
    if (language == TLanguage::Chinese) {
        // Qt's texts are English by themselves; without the translations installed they stay so.
        auto* qt = new QTranslator(QCoreApplication::instance());
        if (qt->load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt);
            QtInstalled = qt;
        } else {
            delete qt;
        }
        return true;
    }
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
