/* linereader.h -- one text line through a 1023-byte window (manifests and preset lists) */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ps2 {

/* Size of the window a line is read through; a longer line is cut there and
 * its rest forms further lines. */
inline constexpr size_t kLineWindow = 1023;

/* Reads the line that starts at offset pos of text.
 * The line ends at the first LF, CR LF or lone CR inside the window of
 * kLineWindow bytes (a CR that is the window's last byte is a lone CR), or
 * at the window's end when it holds no terminator. The terminator is not
 * part of the line. A NUL ends the line's text and the position stays on it.
 * Returns the number of bytes consumed (the next line starts at pos plus
 * that); 0 means nothing was read: the end of the text, or a NUL at pos. */
size_t read_text_line(std::span<const uint8_t> text, size_t pos, std::string_view* line);

/* Sequential reading over a whole text held in memory. */
class LineReader {
public:
    explicit LineReader(std::span<const uint8_t> text) : text_(text) {}

    /* False (and an empty line) once a read consumes nothing. */
    bool next(std::string_view* line)
    {
        const size_t used = read_text_line(text_, pos_, line);
        pos_ += used;
        return used != 0;
    }
    size_t position() const { return pos_; }

private:
    std::span<const uint8_t> text_;
    size_t pos_ = 0;
};

} // namespace ps2
