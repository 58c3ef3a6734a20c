#pragma once
// The interface's language. Every text of the window is written in Chinese in
// the code, which is the source language and the default; English comes from
// the translation built into the program (resources/translations/kestrel_en.ts,
// compiled to kestrel_en.qm under :/i18n). Window thread only.

#include <QString>

#include <optional>

enum class TLanguage { Chinese = 0, English = 1 };

// Installs the language's translation on the application, and Qt's own for its
// buttons and dialogs: windows, menus and dialogs made after the call speak it. False when the translation could not
// be loaded (the texts then stay Chinese).
bool SetLanguage(TLanguage language);
TLanguage CurrentLanguage();

// "zh" or "en", as the command line names them; nothing for anything else.
std::optional<TLanguage> LanguageFromName(const QString& name);
