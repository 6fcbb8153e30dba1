/* linereader.cpp -- one text line through a 1023-byte window */
#include "common/linereader.h"

#include <algorithm>

namespace ps2 {

size_t read_text_line(std::span<const uint8_t> text, size_t pos, std::string_view* line)
{
    *line = {};
    if (pos >= text.size()) return 0;
    const size_t window = std::min(kLineWindow, text.size() - pos);
    const uint8_t* w = text.data() + pos;
    const char* start = reinterpret_cast<const char*>(w);
    for (size_t i = 0; i < window; ++i) {
        switch (w[i]) {
        case '\0':
            *line = std::string_view(start, i);
            return i; /* the position stays on the NUL */
        case '\n':
            *line = std::string_view(start, i);
            return i + 1;
        case '\r':
            *line = std::string_view(start, i);
            return (i + 1 < window && w[i + 1] == '\n') ? i + 2 : i + 1;
        default:
            break;
        }
    }
    *line = std::string_view(start, window);
    return window;
}

} // namespace ps2
