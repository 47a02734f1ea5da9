// A running frame allocates nothing: every operator new in this executable is counted, and
// frames after the first (which may create GL objects lazily) must not add to the count.
#include "core/settings.h"
#include "render/camera.h"
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
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(FrameAllocations, RunningFramesAllocateNothing) {
    ASSERT_TRUE(StartGlScene());
    PlaceStartScene();
    struct View {
        bool standard, withZ, camera2;
    };
    for (View v : {View{false, true, false}, View{false, false, false}, View{true, true, false},
                   View{true, true, true}}) {
        g_bStandardView = v.standard;
        g_bWithZ = v.withZ;
        g_bCamera2View = v.camera2;
        RenderScene(); // warm-up: lazy uploads may allocate once
        RenderScene();
        const long before = g_allocations.load();
        for (int i = 0; i < 5; ++i) {
            // Walking characters: the animation time changes, so skinning runs every frame.
            g_SceneObjects[1].animTime = 0.04f * float(i + 1);
            g_SceneObjects[2].animTime = 0.04f * float(i + 1);
            g_fFrameRate = 60.0f + float(i);
            RenderScene();
        }
        EXPECT_EQ(g_allocations.load() - before, 0)
            << "standard " << v.standard << " withZ " << v.withZ;
    }
    StopGlScene();
}

} // namespace
