#pragma once
// The program's own texts (its error reasons) in the language the locale
// asks for. The translation is loaded at start-up, before any file is
// read, by whoever starts the program; until then, and for a text it does
// not hold, the English source is used as it stands. scripts/
// update-translations.sh finds the texts by the name `translated`.
#include <QtGlobal> // QT_TRANSLATE_NOOP: a text translated where it is shown

#include <initializer_list>
#include <string>

class QLocale;

namespace korvane {

// `source` in the loaded translation's language; `context` groups texts
// for the translator ("reason": what follows a file's name in an error).
std::string translated(const char* context, const char* source);

// `text` with %1, %2 ... %9 replaced by `args` in order, in one pass, so
// that a % in an argument stays as it is.
std::string filledIn(const std::string& text, std::initializer_list<std::string> args);

// The common reasons.
std::string cannotBeDecoded(const std::string& detail);
std::string doesNotFitInMemory();
std::string cannotBeRead();

// Loads the program's translation for `locale` (korvane_<language>.qm,
// beside the program in its build tree, else in its share directory); true
// when there is one. English needs none.
bool loadTranslation(const QLocale& locale);

} // namespace korvane
