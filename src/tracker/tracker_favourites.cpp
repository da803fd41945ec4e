#include "tracker/tracker_favourites.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "base/paths.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "tracker/tracker_list.h"

namespace torrent
{

namespace
{

// A favourites file is a few hundred bytes; anything past this is not read.
constexpr std::size_t max_favourites_file = std::size_t{1} << 20;

// Carriage returns and blanks around a URL are never part of it (a file edited on another
// system may carry CR CR LF, or trailing spaces).
void take_line(std::string_view line, std::vector<std::string>& urls)
{
    line = trim_blanks(line);
    while (!line.empty())
    {
        const std::string_view piece = line.substr(0, max_favourite_line);
        line.remove_prefix(piece.size());
        const std::string_view url = trim_blanks(piece);
        if (url.size() > 3)
            urls.emplace_back(url);
    }
}

bool write_all(int fd, std::string_view data)
{
    while (!data.empty())
    {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::vector<std::string> parse_favourites(std::string_view text)
{
    std::vector<std::string> urls;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    while (!text.empty())
    {
        const std::size_t end = text.find('\n');
        take_line(text.substr(0, end), urls);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return urls;
}

std::string default_favourites_text()
{
    std::string text;
    for (std::size_t i = 0; i < default_favourite_trackers.size(); ++i)
    {
        if (i != 0)
            text.append("\r\n");
        text.append(default_favourite_trackers[i]);
    }
    return text;
}

void AddFavourites(TrackerList& list, const std::string& data_folder)
{
    const std::string path = join_path(data_folder, favourites_file_name);
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        std::string text;
        if (read_whole_file(path, text, max_favourites_file))
        {
            for (const std::string& url : parse_favourites(text))
                list.add(url);
            return;
        }
        if (errno != ENOENT)
            return; // present but unreadable (or absurdly large): never overwrite the user's file
        // O_EXCL: another copy of the program starting at the same moment may create it
        // first; then its content is read instead.
        unique_fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd)
        {
            if (errno == EEXIST)
                continue;
            return;
        }
        if (!write_all(fd.get(), default_favourites_text()))
            ::unlink(path.c_str()); // no half-written file for the next start to read
        for (const std::string_view url : default_favourite_trackers)
            list.add(url);
        return;
    }
}

} // namespace torrent
