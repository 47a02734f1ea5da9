// The folder the viewer works in: it reads Duoscope.fx, the models, their textures and
// server.txt from it and writes log.txt into it, all by relative names.
//
// Started in a folder that holds Duoscope.fx (the source tree's data/, as `make run` does), the
// viewer stays there. Otherwise, when an installed tree holds its data beside the executable
// (PREFIX/bin/duoscope and PREFIX/share/duoscope, whatever PREFIX is), it works in a folder of
// the user's own, $XDG_DATA_HOME/duoscope (~/.local/share/duoscope by default): made on first
// run, with a link to each installed file and a copy of server.txt that the user may edit. A
// file the user put there in place of a link is left alone, so a model can be swapped.
#include "app/shell.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path InstalledDataFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const fs::path data = exe.parent_path().parent_path() / "share" / "duoscope";
    return fs::is_regular_file(data / "Duoscope.fx", ec) ? data : fs::path();
}

fs::path UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return fs::path(xdg) / "duoscope";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return fs::path(home) / ".local" / "share" / "duoscope";
    return {};
}

// Links every installed file into the user's folder (a link to another place, left by an
// install elsewhere, is pointed here) and copies server.txt once.
void FillUserFolder(const fs::path& data, const fs::path& user, std::error_code& ec) {
    fs::create_directories(user, ec);
    for (const fs::directory_entry& entry : fs::directory_iterator(data, ec)) {
        const fs::path name = entry.path().filename(), at = user / name;
        const fs::file_status status = fs::symlink_status(at, ec);
        if (name == "server.txt") {
            if (!fs::exists(status)) fs::copy_file(entry.path(), at, ec);
        } else if (!fs::exists(status) ||
                   (fs::is_symlink(status) && fs::read_symlink(at, ec) != entry.path())) {
            fs::remove(at, ec);
            fs::create_symlink(entry.path(), at, ec);
        }
        if (ec) return;
    }
}

} // namespace

void EnterWorkingFolder() {
    std::error_code ec;
    if (fs::is_regular_file("Duoscope.fx", ec)) return;
    const fs::path data = InstalledDataFolder(), user = UserDataFolder();
    if (data.empty() || user.empty()) return;
    FillUserFolder(data, user, ec);
    if (!ec) fs::current_path(user, ec);
    if (ec)
        std::fprintf(stderr, "duoscope: cannot use %s as the working folder: %s\n", user.c_str(),
                     ec.message().c_str());
}
