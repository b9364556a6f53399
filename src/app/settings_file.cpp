// Our own INI reader and writer. Every call reads the file afresh (two running copies share
// it); a write holds the file's lock from its read to the new file's place-taking, so that it
// starts from the other copy's latest change.
#include "app/settings_file.h"

#include <sys/stat.h>

#include "app/settings_file_store.h"
#include "text/utf8_char.h"

namespace quorvel {

namespace {

using settings_store::file_contents;
using settings_store::file_state;

constexpr std::size_t value_limit = 10239;  // a 10240-byte buffer with its terminating zero
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Texts are handed on as C strings: a NUL byte ends them.
std::string_view c_text(std::string_view text) { return text.substr(0, text.find('\0')); }

std::string_view skip_leading_controls(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= 32) ++pos;
    return text.substr(pos);
}

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

char ascii_lower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

std::string_view limited_value(std::string_view text)
{
    text = c_text(text);
    return text.size() <= value_limit ? text : without_unfinished_tail(text.substr(0, value_limit));
}

// ---- Parsing -------------------------------------------------------------------------------

enum class line_kind { other, section, key };

struct ini_line {
    std::size_t begin = 0;
    std::size_t content_end = 0;  // before "\n" or "\r\n"
    std::size_t end = 0;          // after the line end
    line_kind kind = line_kind::other;
    std::string_view name;        // section or key name, blanks trimmed
    std::size_t value_begin = 0;  // for a key line
};

void classify(std::string_view content, ini_line& line)
{
    std::string_view rest = content;
    while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
    if (rest.empty() || rest.front() == ';') return;
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return;  // a broken header is an ordinary line
        line.kind = line_kind::section;
        line.name = trim_blanks(rest.substr(1, close - 1));
        return;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return;
    line.kind = line_kind::key;
    line.name = trim_blanks(content.substr(0, equals));
    line.value_begin = line.begin + equals + 1;
}

ini_line line_at(std::string_view file, std::size_t begin)
{
    ini_line line;
    line.begin = begin;
    const std::size_t newline = file.find('\n', begin);
    line.end = newline == std::string_view::npos ? file.size() : newline + 1;
    line.content_end = newline == std::string_view::npos ? file.size() : newline;
    if (line.content_end > begin && file[line.content_end - 1] == '\r') --line.content_end;
    classify(file.substr(begin, line.content_end - begin), line);
    return line;
}

// Where a key is, or where it would go. Only the first section of that name counts, and in it
// only the first line of that key.
struct key_location {
    bool section_found = false;
    bool key_found = false;
    std::size_t value_begin = 0;
    std::size_t value_end = 0;
    std::size_t insert_at = 0;  // after the header or the section's last key line
};

key_location locate(std::string_view file, std::string_view section, std::string_view key)
{
    key_location found;
    const std::size_t start = file.substr(0, byte_order_mark.size()) == byte_order_mark
                                  ? byte_order_mark.size()
                                  : 0;
    for (std::size_t pos = start; pos < file.size();) {
        const ini_line line = line_at(file, pos);
        pos = line.end;
        if (line.kind == line_kind::section) {
            if (found.section_found) break;
            if (!same_name(line.name, section)) continue;
            found.section_found = true;
            found.insert_at = line.end;
        } else if (found.section_found && line.kind == line_kind::key) {
            found.insert_at = line.end;
            if (!same_name(line.name, key)) continue;
            found.key_found = true;
            found.value_begin = line.value_begin;
            found.value_end = line.content_end;
            break;
        }
    }
    return found;
}

std::string with_setting(std::string_view file, std::string_view section, std::string_view key,
                         std::string_view value)
{
    const key_location at = locate(file, trim_blanks(section), trim_blanks(key));
    std::string result;
    result.reserve(file.size() + section.size() + key.size() + value.size() + 8);
    if (at.key_found) {
        result.append(file.substr(0, at.value_begin)).append(value).append(file.substr(at.value_end));
        return result;
    }
    const std::size_t insert_at = at.section_found ? at.insert_at : file.size();
    result.append(file.substr(0, insert_at));
    if (!result.empty() && result.back() != '\n' && result != byte_order_mark) result += '\n';
    if (!at.section_found) result.append("[").append(section).append("]\n");
    result.append(key).append("=").append(value).append("\n");
    result.append(file.substr(insert_at));
    return result;
}

// A name that the reader would not find again is not written at all.
bool storable_section(std::string_view section)
{
    return !trim_blanks(section).empty() && section.find_first_of("]\r\n") == std::string_view::npos;
}

bool storable_key(std::string_view key)
{
    const std::string_view name = trim_blanks(key);
    return !name.empty() && name.front() != '[' && name.front() != ';' &&
           key.find_first_of("=\r\n") == std::string_view::npos;
}

}  // namespace

std::string read_setting(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_text)
{
    const std::string_view file_path = skip_leading_controls(c_text(path));
    const std::string_view section_name = skip_leading_controls(c_text(section));
    const std::string_view key_name = skip_leading_controls(c_text(key));
    if (file_path.empty() || section_name.empty() || key_name.empty()) return {};
    const std::string fallback(limited_value(default_text));
    const file_contents file = settings_store::load(std::string(file_path));
    if (file.state != file_state::loaded) return fallback;
    const key_location at = locate(file.bytes, trim_blanks(section_name), trim_blanks(key_name));
    if (!at.key_found) return fallback;
    return std::string(limited_value(
        std::string_view(file.bytes).substr(at.value_begin, at.value_end - at.value_begin)));
}

void write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value)
{
    const std::string_view file_path = c_text(path);
    const std::string_view section_name = c_text(section);
    const std::string_view key_name = c_text(key);
    // A value is one line; anything after a line break would turn into lines of its own.
    std::string_view line_value = c_text(value);
    line_value = line_value.substr(0, line_value.find_first_of("\r\n"));
    if (file_path.empty() || !storable_section(section_name) || !storable_key(key_name)) return;

    const std::string target = settings_store::follow_links(std::string(file_path));
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0 && !settings_store::may_write(target, status))
        return;  // a read-only file gets no lock file beside it either
    const settings_store::write_lock lock(target);
    if (lock.held()) settings_store::remove_stale_temporaries(target);
    const file_contents file = settings_store::load(target);
    if (file.state == file_state::unreadable) return;  // rewriting it would lose its contents
    const bool exists = file.state == file_state::loaded;
    if (exists && !settings_store::may_write(target, file.status)) return;
    const std::string updated = with_setting(file.bytes, section_name, key_name, line_value);
    if (exists && updated == file.bytes) return;
    settings_store::store(target, updated, exists ? &file.status : nullptr);
}

}  // namespace quorvel
