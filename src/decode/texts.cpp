#include "texts.h"

#include "program_files.h"

#include <QLocale>
#include <QString>
#include <QTranslator>

#include <atomic>

namespace korvane {

namespace {

// Set once, before the loading threads start; read by them.
std::atomic<const QTranslator*> g_translator{nullptr};

} // namespace

std::string translated(const char* context, const char* source)
{
    if (const QTranslator* translator = g_translator.load(std::memory_order_acquire)) {
        const QString text = translator->translate(context, source);
        if (!text.isEmpty())
            return text.toStdString();
    }
    return source;
}

std::string filledIn(const std::string& text, std::initializer_list<std::string> args)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const auto index = static_cast<std::size_t>(next - '1');
        if (text[i] == '%' && next >= '1' && next <= '9' && index < args.size()) {
            out += *(args.begin() + index);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string cannotBeDecoded(const std::string& detail)
{
    return filledIn(translated("reason", "cannot be decoded: %1"), {detail});
}

std::string doesNotFitInMemory()
{
    return translated("reason", "does not fit in memory");
}

std::string cannotBeRead()
{
    return translated("reason", "cannot be read");
}

bool loadTranslation(const QLocale& locale)
{
    static QTranslator translator; // lives as long as the program
    if (g_translator.load())
        return true;
    if (!translator.load(locale, QStringLiteral("korvane"), QStringLiteral("_"), QString::fromStdString(programFileDirectory(
                                                 KORVANE_BUILD_TRANSLATION_DIR, KORVANE_TRANSLATION_DIR_FROM_BINDIR))))
        return false;
    g_translator.store(&translator, std::memory_order_release);
    return true;
}

} // namespace korvane
