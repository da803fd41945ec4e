#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/main_window.h"
#include "scripted_prompt.h"
#include "support/process_env.h"
#include "support/temp_dir.h"

// A fresh copy of the program's world for one window test: its own data folder, runtime
// folder and home, a scripted prompt and a registry the test can look into.
class WindowFixture
{
public:
    WindowFixture();

    // A window over the fixture's folders; `line` holds its command line.
    std::unique_ptr<MainWindow> makeWindow(const std::string& line = "-noupnp");

    // Processes events until `done` holds or `ms` pass; answers `done()`.
    static bool pumpUntil(const std::function<bool()>& done, int ms);
    static void pump(int ms);

    // A single-file torrent of `size` random-ish bytes whose content is already in
    // save/<name> when `with_data`; answers the .torrent's path.
    std::string makeSingleFile(const std::string& name, std::size_t size, bool with_data);

    torrent::test::temp_dir dir;
    torrent::test::scoped_env home{"ZORVIK_HOME", dir / "home"};
    torrent::test::scoped_env userHome{"HOME", dir / "user"};
    torrent::test::scoped_env runtime{"XDG_RUNTIME_DIR", dir / "run"};
    torrent::test::scoped_env dataHome{"XDG_DATA_HOME", dir / "user/.local/share"};
    torrent::test::scoped_env configHome{"XDG_CONFIG_HOME", dir / "user/.config"};
    torrent::test::scoped_env downloads{"XDG_DOWNLOAD_DIR", dir / "save"};
    ScriptedPrompt prompt;
    // The status byte of record `index` in the registry file (0 when there is none).
    [[nodiscard]] std::uint8_t storedStatus(std::uint16_t index) const;
    // Number of records in the registry file, record 0 included.
    [[nodiscard]] std::size_t storedRecords() const;
    torrent::clock* time = nullptr;
};
