#include "app/window_entry.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <span>

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>

#include "app/command_line.h"
#include "app/display_check.h"
#include "app/file_association.h"
#include "app/handover.h"
#include "app/main_window.h"
#include "app/prompt.h"
#include "app/start_options.h"
#include "app/stop_signals.h"
#include "base/data_folder.h"
#include "base/paths.h"
#include "ui/language_file.h"

namespace torrent
{
namespace
{

// A second copy with a line to hand over: the running copy takes it or the wait ends.
int hand_over(int fd, const command_line& line)
{
    switch (hand_over_line(fd, line.text()))
    {
    case handover_status::delivered:
        return 0;
    case handover_status::timed_out:
        std::fprintf(
            stderr,
            "zorvik: the running copy did not answer within %d s; nothing was handed over\n",
            handover::wait_limit_ms / 1000);
        return 3;
    default:
        std::fprintf(stderr, "zorvik: the running copy closed the connection; nothing was handed over\n");
        return 3;
    }
}

// With ZORVIK_TIMING set to the wall-clock nanoseconds at which the program was launched,
// the first exposure of the main window prints how long the start took (for the start-up
// figure; nothing happens without it).
class first_exposure_timer final : public QObject
{
public:
    first_exposure_timer(QWidget& window, long long launched_ns)
        : m_launched_ns(launched_ns)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (!m_done && event->type() == QEvent::Paint)
        {
            m_done = true;
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
            std::fprintf(
                stderr,
                "zorvik: window shown %.3f s after launch\n",
                static_cast<double>(ns - m_launched_ns) / 1e9);
        }
        return false;
    }

private:
    long long m_launched_ns;
    bool m_done = false;
};

// SIGTERM and SIGINT (a session that logs out, Ctrl-C in a terminal) end the program as
// the close prompt's "Yes" does; the window's thread does the work.
void watch_stop_signals(stop_signals& stops, MainWindow& window)
{
    if (stops.fd() < 0)
        return;
    auto* notifier = new QSocketNotifier(stops.fd(), QSocketNotifier::Read, &window);
    QObject::connect(
        notifier,
        &QSocketNotifier::activated,
        &window,
        [&stops, &window]
        {
            if (stops.wait_for(std::chrono::milliseconds{0}))
                window.EndProgram();
        });
}

} // namespace

int run_window_program(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    // The .torrent association, silently, at every start.
    static_cast<void>(RegisterTorrentType());
    const command_line line =
        command_line::from_arguments(std::span<char* const>(argv, static_cast<std::size_t>(argc)).subspan(1));

    // A running copy of this user takes a path or a -set line; otherwise it only comes to
    // the front and a new copy starts beside it.
    const socket_folder sockets = prepare_socket_folder();
    if (sockets.path.empty())
        std::fprintf(
            stderr, "zorvik: %s; this copy neither hands over nor takes hand-overs\n", sockets.error.c_str());
    else if (const unique_fd copy = connect_running_copy(sockets.path))
    {
        if (hands_over_to_running_copy(line))
            return hand_over(copy.get(), line);
        static_cast<void>(send_frame(copy.get(), handover::foreground_frame, {}));
    }

    // The toolkit aborts (core dump and all) when it cannot reach a display, so the
    // question is settled before it starts.
    if (const auto reason = missing_display_reason(process_environment()))
    {
        std::fprintf(
            stderr,
            "zorvik: no display to show the window on (%s); zorvik-cli runs without one\n",
            reason->c_str());
        return 2;
    }

    MainWindowOptions options;
    options.start = read_start_options(line, system_random_source());
    options.line = line;
    options.data_folder = data_folder();
    static_cast<void>(make_folders(options.data_folder));
    static_cast<void>(LoadLanguageFile());

    // The window draws with the raster engine: no OpenGL implementation is loaded.
    ::setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    // Before the window, so it outlives the window's notifier.
    stop_signals stops;
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    DialogPrompt prompt;
    MainWindow window(std::move(options), prompt);
    if (!sockets.path.empty())
        window.attachHandover(handover_listener::open(sockets.path));
    watch_stop_signals(stops, window);
    std::unique_ptr<first_exposure_timer> timing;
    if (const char* launched = std::getenv("ZORVIK_TIMING"))
        timing = std::make_unique<first_exposure_timer>(window, std::atoll(launched));
    int status = 0;
    QObject::connect(
        &window,
        &MainWindow::exitRequested,
        &application,
        [&status](int code)
        {
            status = code;
            QCoreApplication::exit(code);
        });
    return application.exec() == 0 ? status : 1;
}

} // namespace torrent
