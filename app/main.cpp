// Process entry: reads the automation hooks, joins the arguments into the command-line text the
// GUI entry expects, and runs it.
#include "app/shell.h"
#include "net/net.h"
#include "platform/win/input.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    // --version alone answers before anything is read or opened.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("%s %s\n", DUOSCOPE_PROGRAM, DUOSCOPE_VERSION);
        return 0;
    }
    std::string error;
    if (!ReadAutomationHooks(g_Hooks, &error)) {
        std::fprintf(stderr, "duoscope: %s\n", error.c_str());
        return 2;
    }
    if (g_Hooks.fixedStep != 0) SetFixedTickStep(g_Hooks.fixedStep);
    if (g_Hooks.serverPort != 0) g_nServerPort = g_Hooks.serverPort;
    // A screenshot named relative to where the viewer was started lands there, wherever it
    // works.
    if (!g_Hooks.screenshot.empty())
        g_Hooks.screenshot = std::filesystem::absolute(g_Hooks.screenshot).string();
    EnterWorkingFolder();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWDEFAULT);
}
