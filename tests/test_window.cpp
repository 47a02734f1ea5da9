// The real window under Xvfb, the screen the size of the window.
#include "support/viewer_process.h"
#include "support/xserver.h"

#include <gtest/gtest.h>

namespace {

TEST(Window, AppearsAtTheRequestedSizeAndClosingItEndsTheProgram) {
    XvfbServer x;
    ASSERT_TRUE(x.Start(800, 600)) << "Xvfb could not start";
    const std::string dir = MakeScratchDir("window_close");
    const int pid = StartProgram(ViewerPath(), {"rx", "800", "ry", "600"},
                                 {{"DISPLAY", x.display}, {"SDL_VIDEODRIVER", "x11"}}, dir);
    const XWindowInfo w = WaitForWindow(x.display, "Duoscope", 20000);
    ASSERT_TRUE(w.found && w.viewable) << ReadFile(dir + "/stderr.txt");
    EXPECT_EQ(w.width, 800);
    EXPECT_EQ(w.height, 600);
    ASSERT_TRUE(CloseWindow(x.display, w.id));
    const ViewerRun run = WaitProgram(pid, dir, 30);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.log, "Initialized DirectX 9\nInitialized resolution 800x600\n");
}

} // namespace
