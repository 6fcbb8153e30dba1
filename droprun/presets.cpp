/* presets.cpp -- DROPRUN's preset list: path, caption, groups of 10 lines */
#include "droprun/presets.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/linereader.h"

namespace ps2::droprun {

namespace {

/* Reads consecutive lines through the 1023-byte line window, buffering the
 * source in large chunks: a line is always parsed from a view that holds
 * its whole window, or everything up to the end of the list. */
class BufferedLines {
public:
    explicit BufferedLines(const ByteSource& source) : source_(source) {}

    /* The next line (valid until the next call); false once a read
     * consumes nothing, which leaves the line empty. */
    bool next(std::string_view* line)
    {
        fill_window();
        const std::span<const uint8_t> view(buffer_.data() + (pos_ - start_), size_t(length_ - (pos_ - start_)));
        const size_t used = read_text_line(view, 0, line);
        pos_ += used;
        return used != 0;
    }

    /* Reads n lines and ignores them; false when one of them read nothing. */
    bool skip(size_t n)
    {
        std::string_view line;
        bool all = true;
        for (size_t i = 0; i < n; ++i) all = next(&line) && all;
        return all;
    }

private:
    static constexpr size_t kChunk = 64 * 1024;

    /* Makes [pos_, pos_ + window) available, or everything up to the end. */
    void fill_window()
    {
        const uint64_t have_end = start_ + length_;
        if (pos_ >= start_ && pos_ + kLineWindow <= have_end) return;
        if (at_end_ && pos_ >= start_ && pos_ <= have_end) return;
        start_ = pos_;
        length_ = 0;
        at_end_ = false;
        /* A short read need not mean the end (pipes): read until full or 0. */
        while (length_ < kChunk) {
            const size_t got = source_.read_at ? source_.read_at(source_.context, start_ + length_,
                                                                 buffer_.data() + length_, kChunk - length_)
                                               : 0;
            if (got == 0) {
                at_end_ = true;
                break;
            }
            length_ += std::min(got, kChunk - length_);
        }
    }

    const ByteSource& source_;
    std::array<uint8_t, kChunk> buffer_{};
    uint64_t start_ = 0;  /* list offset of buffer_[0] */
    size_t length_ = 0;   /* bytes held */
    bool at_end_ = false; /* the list ends at start_ + length_ */
    uint64_t pos_ = 0;    /* list offset of the next line */
};

void read_fields(BufferedLines& lines, PresetFields* out)
{
    std::string_view line;
    for (auto& f : out->field) {
        lines.next(&line);
        f.assign(line);
    }
}

size_t read_memory(void* context, uint64_t offset, uint8_t* buffer, size_t capacity)
{
    const auto& bytes = *static_cast<const std::span<const uint8_t>*>(context);
    if (offset >= bytes.size()) return 0;
    const size_t n = std::min(capacity, size_t(bytes.size() - offset));
    std::memcpy(buffer, bytes.data() + offset, n);
    return n;
}

} // namespace

ByteSource memory_source(const std::span<const uint8_t>* bytes)
{
    ByteSource s;
    s.read_at = &read_memory;
    s.context = const_cast<std::span<const uint8_t>*>(bytes);
    return s;
}

void load_preset_list(const ByteSource& source, PresetList* out)
{
    out->names.clear();
    out->first = {};
    /* The buffer is large; keep it off the stack of a window procedure. */
    auto lines = std::make_unique<BufferedLines>(source);
    std::string_view line;

    lines->next(&line); /* the first group's first line: never read */
    lines->next(&line);
    out->names.emplace_back(line);
    read_fields(*lines, &out->first);

    while (out->names.size() < kMaxPresets && lines->next(&line)) {
        lines->next(&line);
        out->names.emplace_back(line);
        lines->skip(kFormFieldCount);
    }
}

void read_all_presets(const ByteSource& source, std::vector<Preset>* out)
{
    out->clear();
    auto lines = std::make_unique<BufferedLines>(source);
    std::string_view line;
    /* The first group is read even when its first line reads nothing. */
    for (bool more = (lines->next(&line), true); more && out->size() < kMaxPresets; more = lines->next(&line)) {
        Preset& p = out->emplace_back();
        lines->next(&line);
        p.name.assign(line);
        read_fields(*lines, &p.fields);
    }
}

void read_preset(const ByteSource& source, size_t index, PresetFields* out)
{
    *out = {};
    if (index >= kMaxPresets) return;
    auto lines = std::make_unique<BufferedLines>(source);
    lines->skip(index * kPresetGroupLines + 2);
    read_fields(*lines, out);
}

bool preset_list_path(const char* program_path, const PathRules& rules, PathBuffer* out)
{
    if (!out->assign(program_path)) return false;
    const char* ext = find_extension_point(out->c_str(), rules);
    out->cut(size_t(ext - out->c_str()));
    return out->append(".lst");
}

std::string_view caption_of(const char* program_path, const PathRules& rules)
{
    const char* name = find_name_part(program_path, rules);
    const char* p = name;
    while (*p != '\0' && *p != '.') p = rules.step(p);
    return std::string_view(name, size_t(p - name));
}

} // namespace ps2::droprun
