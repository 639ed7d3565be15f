#include "command_line.h"

namespace korvane {

std::string Command(int argc, const char* const* argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

std::string Replace(const std::string& text, const std::string& find, const std::string& with)
{
    if (find.empty())
        return text;
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(find); at != std::string::npos; at = text.find(find, from)) {
        out.append(text, from, at - from);
        out += with;
        from = at + find.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

} // namespace korvane
