#include "ui/language_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "base/data_folder.h"
#include "base/paths.h"
#include "base/unique_fd.h"
#include "ui/text_encoding.h"

namespace torrent
{
namespace
{

// Bytes of a line kept before decoding: the text limit plus a CR that may precede the LF.
constexpr std::size_t raw_line_keep = language_line_limit + 1;

// A language file larger than this is read only this far (a legitimate file is far smaller).
constexpr std::size_t max_file_read = std::size_t{64} << 20;

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// Turns the kept bytes of one line into the entry's UTF-8 text. `cut` says the line went
// on beyond the kept bytes, so its last character may be incomplete.
std::string decode_line(std::string_view raw, bool cut)
{
    // Entries are C strings to their users: a NUL ends the text.
    if (const auto nul = raw.find('\0'); nul != std::string_view::npos)
    {
        raw = raw.substr(0, nul);
        cut = false;
    }
    std::string text;
    const std::size_t valid = utf8_valid_prefix(raw);
    if (valid == raw.size() || (cut && is_truncated_utf8_tail(raw, valid)))
        text.assign(raw.substr(0, valid));
    else if (auto converted = gb18030_to_utf8(raw, cut))
        text = std::move(*converted);
    else
        text = replace_invalid_utf8(raw);
    if (text.size() > language_line_limit)
        text.resize(cut_utf8(text, language_line_limit).size());
    return text;
}

} // namespace

bool language_file_reader::feed(std::string_view bytes)
{
    while (!bytes.empty() && m_index < ui_text_count)
    {
        const auto lf = bytes.find('\n');
        const std::string_view part = bytes.substr(0, lf);
        if (!part.empty())
            m_line_open = true;
        const std::size_t room = raw_line_keep - m_line.size();
        if (part.size() > room)
            m_line_cut = true;
        m_line.append(part.substr(0, room));
        if (lf == std::string_view::npos)
            break;
        // Text mode: the CR of a CR LF pair is part of the line end, not of the entry.
        if (!m_line_cut && !m_line.empty() && m_line.back() == '\r')
            m_line.pop_back();
        end_line();
        bytes.remove_prefix(lf + 1);
    }
    return m_index < ui_text_count;
}

void language_file_reader::finish()
{
    // A file that ends with a line end has no further entry: the line end closes the last
    // line, it does not open an empty one.
    if (m_line_open && m_index < ui_text_count)
        end_line();
}

void language_file_reader::end_line()
{
    std::string_view raw = m_line;
    // A byte-order mark that an editor put in front of the first line is not text.
    const bool first = m_index == 0;
    if (first && raw.substr(0, utf8_bom.size()) == utf8_bom)
        raw.remove_prefix(utf8_bom.size());
    std::string text = decode_line(raw, m_line_cut);
    // Nor is one that the conversion produced, so the first entry never starts with one.
    std::size_t marks = 0;
    while (first && text.compare(marks, utf8_bom.size(), utf8_bom) == 0)
        marks += utf8_bom.size();
    text.erase(0, marks);
    m_table.set(m_index, std::move(text));
    ++m_index;
    m_line.clear();
    m_line_cut = false;
    m_line_open = false;
}

void read_language_file(std::string_view bytes, ui_text_table& table)
{
    language_file_reader reader(table);
    reader.feed(bytes);
    reader.finish();
}

std::string language_file_bytes(const ui_text_table& table)
{
    std::string out;
    for (std::size_t i = 0; i < ui_text_count; ++i)
    {
        out += table[i];
        out += "\r\n";
    }
    return out;
}

namespace
{

// Writes a file that does not exist yet, whole or not at all: the bytes go to a temporary
// file that is then linked in under the name, which fails when a file of that name appeared
// meanwhile (another copy starting, or the user), so no file is ever replaced. Where the
// file system has no hard links the file is created exclusively and written in place.
bool write_new_file(const std::string& path, std::string_view data)
{
    const auto write_all = [&data](int fd)
    {
        std::size_t done = 0;
        while (done < data.size())
        {
            const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    };

    std::string tmp = path + ".XXXXXX";
    unique_fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd)
    {
        const bool written = write_all(fd.get()) && ::fchmod(fd.get(), 0644) == 0;
        fd.reset();
        const int linked = written ? ::link(tmp.c_str(), path.c_str()) : -1;
        const int link_errno = errno;
        ::unlink(tmp.c_str());
        if (linked == 0)
            return true;
        if (!written || (link_errno != EPERM && link_errno != ENOTSUP && link_errno != ENOSYS))
            return false;
    }
    unique_fd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!out)
        return false;
    if (write_all(out.get()))
        return true;
    out.reset();
    ::unlink(path.c_str());
    return false;
}

// Reads an open language file into `table`.
language_file_result read_open_file(int fd, ui_text_table& table)
{
    struct stat st
    {
    };

    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return language_file_result::unreadable;

    language_file_reader reader(table);
    char buf[65536];
    std::size_t total = 0;
    while (total < max_file_read)
    {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
        if (!reader.feed(std::string_view(buf, static_cast<std::size_t>(n))))
            break;
    }
    reader.finish();
    return language_file_result::read;
}

// Opens a language file for reading: the descriptor, or none with errno set.
unique_fd open_language_file(const std::string& path)
{
    return unique_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

language_file_result write_missing_file(const std::string& path, const ui_text_table& table)
{
    return write_new_file(path, language_file_bytes(table)) ? language_file_result::written
                                                            : language_file_result::not_written;
}

} // namespace

language_file_result load_language_file(const std::string& path, ui_text_table& table)
{
    const unique_fd fd = open_language_file(path);
    if (fd)
        return read_open_file(fd.get(), table);
    // Only a missing file is written: an existing one that cannot be read is the user's
    // and is never overwritten.
    if (errno != ENOENT)
        return language_file_result::unreadable;
    return write_missing_file(path, table);
}

std::string messages_locale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

bool is_chinese_locale(std::string_view locale) noexcept
{
    // language[_territory][.codeset][@modifier]
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    return language.size() == 2 && (language[0] == 'z' || language[0] == 'Z')
        && (language[1] == 'h' || language[1] == 'H');
}

language_file_result load_start_language(const language_start& start, ui_text_table& table)
{
    if (const unique_fd fd = open_language_file(start.language_file))
        return read_open_file(fd.get(), table);
    if (errno != ENOENT)
        return language_file_result::unreadable;
    if (!start.chinese)
    {
        // Entries the English file does not reach keep the built-in texts.
        ui_text_table english = table;
        const unique_fd fd =
            start.english_file.empty() ? unique_fd() : open_language_file(start.english_file);
        if (!fd || read_open_file(fd.get(), english) != language_file_result::read)
            return language_file_result::english_missing;
        table = std::move(english);
    }
    return write_missing_file(start.language_file, table);
}

language_file_result LoadLanguageFile()
{
    ui_text_table table;
    language_start start;
    start.language_file = join_path(data_folder(), language_file_name);
    if (const std::string folder = executable_folder(); !folder.empty())
        start.english_file = join_path(folder, english_language_file_name);
    start.chinese = is_chinese_locale(messages_locale());
    const language_file_result result = load_start_language(start, table);
    install_ui_text(std::move(table));
    return result;
}

} // namespace torrent
