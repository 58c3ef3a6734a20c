#pragma once
// Marks a text of app/'s plain logic, which has no Qt, for the translation
// tools (lupdate): the text stays as it is here, and the window translates it
// where it shows it, through QCoreApplication::translate with the same
// context. The same definition as Qt's, so that either may come first.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif
