#include "support/viewer_process.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string MakeScratchDir(const std::string& name, bool withData) {
    const fs::path dir = fs::path(DUO_BINARY_DIR) / "scratch" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(fs::path(DUO_SOURCE_DIR) / "data")) {
        if (!withData || entry.path().filename() == "log.txt") continue;
        fs::create_symlink(entry.path(), dir / entry.path().filename());
    }
    return dir.string();
}

Env Reproducible(Env extra) {
    extra.insert(
        {{"SDL_VIDEODRIVER", "offscreen"}, {"DUOSCOPE_FIXED_STEP", "40"}, {"DUOSCOPE_SEED", "1"}});
    return extra;
}

std::string ReadFile(const std::string& path) {
    if (!fs::is_regular_file(path)) return ""; // a directory in a file's place reads as empty
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ViewerPath(const std::string& target) {
    return (fs::path(DUO_BINARY_DIR) / target).string();
}

int StartProgram(const std::string& program, const std::vector<std::string>& args, const Env& env,
                 const std::string& dir, int output) {
    const std::string errFile = dir + "/stderr.txt";
    if (fs::is_regular_file(dir + "/log.txt")) fs::remove(dir + "/log.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that failed hard
        if (chdir(dir.c_str()) != 0) _exit(127);
        for (const auto& [key, value] : env)
            value.empty() ? unsetenv(key.c_str()) : setenv(key.c_str(), value.c_str(), 1);
        const int fd =
            output >= 0 ? output : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) dup2(fd, 1), dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

ViewerRun WaitProgram(int pid, const std::string& dir, int timeoutSeconds) {
    ViewerRun run;
    // The process's descriptor becomes readable when it ends: poll it with the timeout.
    const int pidFd = int(syscall(SYS_pidfd_open, pid, 0));
    pollfd p{pidFd, POLLIN, 0};
    if (pidFd < 0 || poll(&p, 1, timeoutSeconds * 1000) != 1) kill(pid, SIGKILL);
    if (pidFd >= 0) close(pidFd);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.log = ReadFile(dir + "/log.txt");
    run.errors = ReadFile(dir + "/stderr.txt");
    return run;
}

ViewerRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const Env& env, const std::string& dir, int timeoutSeconds) {
    return WaitProgram(StartProgram(program, args, env, dir), dir, timeoutSeconds);
}

Image LoadPng(const std::string& path) {
    Image image;
    int channels = 0;
    if (unsigned char* data = stbi_load(path.c_str(), &image.width, &image.height, &channels, 4))
        image.rgba.assign(data, data + size_t(image.width) * image.height * 4),
            stbi_image_free(data);
    return image;
}
