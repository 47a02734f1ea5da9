// A running frame allocates nothing: every operator new in this executable is counted (the
// array and nothrow forms call this one), and frames after the first (which may create GL
// objects lazily) must not add to the count.
#include "core/settings.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/gl_scene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

static std::atomic<long> g_allocations{0};

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

TEST(FrameAllocations, RunningFramesAllocateNothing) {
    ASSERT_TRUE(StartGlScene());
    PlaceStartScene();
    for (auto [standard, withZ, camera2] : {std::tuple(false, true, false),
                                            {false, false, false},
                                            {true, true, false},
                                            {true, true, true}}) {
        g_bStandardView = standard;
        g_bWithZ = withZ;
        g_bCamera2View = camera2;
        RenderScene(); // warm-up: lazy uploads may allocate once
        RenderScene();
        const long before = g_allocations.load();
        for (int i = 1; i <= 5; ++i) {
            // Walking characters: the animation time changes, so skinning runs every frame.
            g_SceneObjects[1].animTime = g_SceneObjects[2].animTime = 0.04f * float(i);
            g_fFrameRate = 60.0f + float(i);
            RenderScene();
        }
        EXPECT_EQ(g_allocations.load() - before, 0)
            << "standard " << standard << " withZ " << withZ;
    }
    StopGlScene();
}
