#include "core/settings.h"
#include "app/joystick.h"
#include "app/shell.h"
#include "net/net.h"
#include "platform/win/input.h"

// Runs the main loop until the quit message: one window message, the joystick poll and one
// frame update per turn, the frame rate every 100 turns. It never sleeps.
static void RunMainLoop() {
    bool quit = false;
    FrameRateCounter counter;
    StartFrameRate(counter, GetTickCount());
    StartKeyScript();
    int64_t turns = 0;
    while (!quit) {
        AdvanceTickClock(); // the fixed-step clock moves once per turn
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        PollJoystick();
        UpdateFrame();
        CountFrame(counter, GetTickCount());
        if (++turns <= 2) TraceStartup(turns == 1 ? "frame-1" : "frame-2");
        if (turns == g_Hooks.frames) PostQuitMessage(0);
    }
}

int WinMain(HINSTANCE, HINSTANCE, char* commandLine, int) {
    ParseCommandLine(commandLine);

    g_pLog = std::fopen("log.txt", "w");

    WNDCLASSEXA wc = {};
    wc.cbSize = 48;
    wc.style = CS_CLASSDC;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = g_szWindowClass;
    RegisterClassExA(&wc);

    if (g_bWindowed) {
        g_hWnd = CreateWindowExA(0, g_szWindowClass, g_szWindowClass,
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0,
                                 g_nScreenWidth, g_nScreenHeight, GetDesktopWindow(), nullptr,
                                 wc.hInstance, nullptr);
    } else {
        g_hWnd = CreateWindowExA(WS_EX_APPWINDOW, g_szWindowClass, g_szWindowClass, WS_POPUP, 0, 0,
                                 g_nScreenWidth, g_nScreenHeight, GetDesktopWindow(), nullptr,
                                 wc.hInstance, nullptr);
    }

    TraceStartup("window");
    CreateDevice3D();
    TraceStartup("device");
    if (g_bNetwork) connectToServer();
    ShowWindow(g_hWnd, SW_SHOWDEFAULT);
    UpdateWindow(g_hWnd);
    SetupJoystick(g_hWnd);
    TraceStartup("shown");
    LoadResources();

    RunMainLoop();

    if (!g_Hooks.screenshot.empty() && !WriteScreenshot(g_Hooks.screenshot.c_str()))
        std::fprintf(stderr, "duoscope: cannot write screenshot %s\n", g_Hooks.screenshot.c_str());
    Shutdown();
    TraceStartup("shutdown");
    return 0;
}
