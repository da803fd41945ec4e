#pragma once

#include <string>

namespace torrent
{

// The per-user data folder "My Zorvik", always ending in '/'. In order:
// 1. $ZORVIK_HOME when set (tests always set it);
// 2. a folder "My Zorvik" beside the executable, when one exists (portable use);
// 3. the XDG documents folder followed by "My Zorvik/" ($XDG_DOCUMENTS_DIR, the
//    XDG_DOCUMENTS_DIR line of user-dirs.dirs, else $HOME/Documents when it exists);
// 4. $HOME/My Zorvik/.
// The folder is not created here.
[[nodiscard]] std::string data_folder();

// The folder new downloads go to when the user has chosen none: the XDG download folder
// ($XDG_DOWNLOAD_DIR, the XDG_DOWNLOAD_DIR line of user-dirs.dirs) when it exists, else
// $HOME/Downloads when it exists, else $HOME; no trailing '/'. "" without a home folder.
[[nodiscard]] std::string download_folder();

// The folder of the running executable (ending in '/'), or "" when unknown.
[[nodiscard]] std::string executable_folder();

// The absolute path of the running executable, or "" when unknown.
[[nodiscard]] std::string executable_path();

} // namespace torrent
