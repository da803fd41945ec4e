#include "window_fixture.h"

#include <sys/stat.h>
#include <thread>

#include "base/paths.h"
#include "metainfo/sha1.h"

WindowFixture::WindowFixture()
{
    torrent::make_folders(dir / "home");
    torrent::make_folders(dir / "user");
    torrent::make_folders(dir / "save");
    ::mkdir((dir / "run").c_str(), 0700);
    dir.write("home/trackerFavorite.txt", "http://127.0.0.1:9/announce\r\n");
}

std::unique_ptr<MainWindow> WindowFixture::makeWindow(const std::string& line)
{
    MainWindowOptions options;
    options.line = torrent::command_line(line);
    // -tc and -pc as the program reads them; the port is fixed unless the line names one.
    options.start = torrent::read_start_options(options.line, [] { return 0u; });
    if (!options.line.has("-port"))
        options.start.listen_port = 20000;
    options.data_folder = dir / "home/";
    options.listen_address = 0x7F000001;
    options.time = time;
    return std::make_unique<MainWindow>(std::move(options), prompt);
}

std::uint8_t WindowFixture::storedStatus(std::uint16_t index) const
{
    const std::string bytes = dir.read("home/Zorvik.dat");
    const std::size_t at = std::size_t{index} * 521;
    return at < bytes.size() ? static_cast<std::uint8_t>(bytes[at]) : 0;
}

std::size_t WindowFixture::storedRecords() const
{
    return dir.read("home/Zorvik.dat").size() / 521;
}

bool WindowFixture::pumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done())
    {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void WindowFixture::pump(int ms)
{
    pumpUntil([] { return false; }, ms);
}

std::string WindowFixture::makeSingleFile(const std::string& name, std::size_t size, bool with_data)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7919 + name.size()) % 251);
    if (with_data)
        dir.write("save/" + name, data);
    const std::uint32_t piece = 16384;
    std::string pieces;
    for (std::size_t at = 0; at < size; at += piece)
    {
        const auto digest = torrent::sha1(std::string_view(data).substr(at, piece), 1);
        pieces.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    }
    return dir.write(
        "torrents/" + name + ".torrent",
        "d8:announce27:http://127.0.0.1:9/announce4:infod6:lengthi" + std::to_string(size) + "e4:name"
            + std::to_string(name.size()) + ":" + name + "12:piece lengthi" + std::to_string(piece)
            + "e6:pieces" + std::to_string(pieces.size()) + ":" + pieces + "ee");
}
