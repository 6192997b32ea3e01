// The frame driver on the null back-end: what reaches the GUI, what is
// presented, and how a failing frame is survived.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cfloat>
#include <memory>
#include <stdexcept>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "app/shell_services.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"

namespace {

// Draw functions are plain function pointers: they reach the test through these.
FrameDriver* gDriver = nullptr;
AppState* gApp = nullptr;
int gDrawCalls = 0;
bool gThrow = false;

void DrawSomething() {
    ++gDrawCalls;
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(100, 50));
    ImGui::Begin("##w");
    ImGui::TextUnformatted("frame");
    ImGui::End();
}

// Leaves a window, a child, a style variable, a colour and an ID open.
void DrawThenThrow() {
    ++gDrawCalls;
    ImGui::Begin("##outer");
    ImGui::PushStyleVar(ImGuiStyleVar_Alpha, 0.5f);
    ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(255, 0, 0, 255));
    ImGui::PushID("halfway");
    ImGui::BeginChild("##inner", ImVec2(50, 50));
    if (gThrow) throw std::runtime_error("drawing failed");
    ImGui::EndChild();
    ImGui::PopID();
    ImGui::PopStyleColor();
    ImGui::PopStyleVar();
    ImGui::End();
}

void DrawNested() {
    ++gDrawCalls;
    RenderFrame(*gDriver, *gApp);
}

struct Rig {
    HeadlessGui gui;
    NullFrameBackend backend{1280, 720};
    FrameDriver driver;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();

    Rig() {
        driver.backend = &backend;
        driver.appRunning = true;
        driver.drawUI = DrawSomething;
        gDriver = &driver;
        gApp = app.get();
        gDrawCalls = 0;
        gThrow = false;
    }
    void Frame() { RenderFrame(driver, *app); }
};

bool PointerInvalid(const ImGuiIO& io) { return io.MousePos.x <= -FLT_MAX / 2 || io.MousePos.y <= -FLT_MAX / 2; }

}  // namespace

TEST(FrameDriver, AnExceptionInDrawUiCostsThatFrameOnly) {
    Rig rig;
    rig.driver.drawUI = DrawThenThrow;
    gThrow = true;
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, 1) << "the failing frame is still presented";
    EXPECT_EQ(rig.driver.drawExceptions, 1);
    ImGuiContext& g = *ImGui::GetCurrentContext();
    // Everything DrawUI left open was closed before the frame ended.
    EXPECT_EQ(g.StyleVarStack.Size, 0);
    EXPECT_EQ(g.ColorStack.Size, 0);
    EXPECT_EQ(g.CurrentWindowStack.Size, 0);

    // The next frame starts clean and draws normally.
    gThrow = false;
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, 2);
    EXPECT_EQ(rig.driver.drawExceptions, 1);
    EXPECT_EQ(gDrawCalls, 2);
    EXPECT_GT(rig.backend.drawListsRendered, 0);
}

TEST(FrameDriver, ANestedFrameOrAStoppedAppDrawsNothing) {
    Rig rig;
    rig.driver.drawUI = DrawNested;
    rig.Frame();
    EXPECT_EQ(gDrawCalls, 1) << "the nested RenderFrame returned at once";
    EXPECT_EQ(rig.backend.newFrames, 1);
    EXPECT_EQ(rig.backend.presents, 1);
    EXPECT_FALSE(rig.driver.inFrame);

    rig.driver.appRunning = false;
    rig.Frame();
    EXPECT_EQ(rig.backend.newFrames, 1);
}

TEST(FrameDriver, TheGuiWorksInPointsAndSeesThePointerOnlyWhenFocusedAndInside) {
    Rig rig;
    rig.backend.pixelWidth = 1920;
    rig.backend.pixelHeight = 1080;
    rig.driver.uiScale = 1.5f;
    rig.backend.mouse.focused = true;
    rig.backend.mouse.inside = true;
    rig.backend.mouse.x = 300;
    rig.backend.mouse.y = 150;
    rig.backend.mouse.buttons[0] = true;
    rig.Frame();
    const ImGuiIO& io = ImGui::GetIO();
    EXPECT_FLOAT_EQ(io.DisplaySize.x, 1280);
    EXPECT_FLOAT_EQ(io.DisplaySize.y, 720);
    EXPECT_FLOAT_EQ(io.DisplayFramebufferScale.x, 1.5f);
    EXPECT_FLOAT_EQ(io.MousePos.x, 200);
    EXPECT_FLOAT_EQ(io.MousePos.y, 100);
    EXPECT_TRUE(io.MouseDown[0]);

    rig.backend.mouse.focused = false;
    rig.Frame();
    EXPECT_TRUE(PointerInvalid(io)) << "a window in the background gets no pointer";

    rig.backend.mouse.focused = true;
    rig.backend.mouse.inside = false;
    rig.Frame();
    EXPECT_TRUE(PointerInvalid(io)) << "a cursor outside the client area gets no pointer";

    rig.backend.mouse.inside = true;
    rig.Frame();
    EXPECT_FALSE(PointerInvalid(io));
}

TEST(FrameDriver, AnIdleWindowPresentsOnlyFramesThatChanged) {
    Rig rig;
    rig.driver.presentOnlyChanges = true;
    rig.Frame();
    rig.Frame();  // a new GUI window settles in its second frame
    int settled = rig.backend.presents;
    rig.Frame();
    rig.Frame();
    EXPECT_EQ(rig.driver.framesDrawn, 4) << "DrawUI runs every frame";
    EXPECT_EQ(rig.backend.presents, settled) << "unchanged frames are not presented again";

    rig.backend.pixelWidth = 1000;  // a different picture
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, settled + 1);

    RequestPresent(rig.driver);  // a texture changed under the same handle
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, settled + 2);

    int reads = 0;
    RequestBackBufferRead(rig.driver, [&reads](const FrameImage&) { ++reads; });
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, settled + 3) << "a capture always draws the frame";
    EXPECT_EQ(reads, 1);

    rig.driver.presentOnlyChanges = false;  // an active loop presents every frame
    rig.Frame();
    EXPECT_EQ(rig.backend.presents, settled + 4);
}

TEST(FrameDriver, OneBackBufferReadServesEveryRequestAndTheThumbnail) {
    Rig rig;
    ShellServices saved = gShellServices;
    std::string thumbnailPath;
    int thumbnailWidth = 0;
    gShellServices.captureThumbnail = [&](const FrameImage& image) {
        thumbnailPath = rig.app->pendingThumbnailPath;
        thumbnailWidth = image.width;
    };
    rig.app->pendingThumbnailPath = "/tmp/project.thumb.png";
    FrameImage first, second;
    RequestBackBufferRead(rig.driver, [&first](const FrameImage& image) { first = image; });
    RequestBackBufferRead(rig.driver, [&second](const FrameImage& image) { second = image; });
    rig.Frame();
    gShellServices = saved;

    EXPECT_EQ(rig.backend.reads, 1);
    EXPECT_EQ(thumbnailPath, "/tmp/project.thumb.png");
    EXPECT_EQ(thumbnailWidth, 1280);
    EXPECT_TRUE(rig.app->pendingThumbnailPath.empty());
    ASSERT_EQ(first.width, 1280);
    ASSERT_EQ(first.rgba.size(), 1280u * 720u * 4u);
    EXPECT_EQ(first.rgba, second.rgba);
    // The null back-end "draws" the clear colour: 0.043 · 255 rounds to 11.
    EXPECT_EQ(first.rgba[0], 11);
    EXPECT_EQ(first.rgba[3], 255);

    rig.Frame();
    EXPECT_EQ(rig.backend.reads, 1) << "requests are served once";
}

TEST(FrameDriver, TheSnapshotIsPublishedOrTheRequestStays) {
    Rig rig;
    rig.app->busyTask.snapshotRequested = true;
    rig.backend.failSnapshot = true;
    rig.Frame();
    EXPECT_TRUE(rig.app->busyTask.snapshotRequested) << "a failed copy is tried again next frame";
    EXPECT_EQ(rig.app->frozenFrameTexture, nullptr);

    rig.backend.failSnapshot = false;
    rig.Frame();
    EXPECT_FALSE(rig.app->busyTask.snapshotRequested);
    ASSERT_NE(rig.app->frozenFrameTexture, nullptr);
    TextureHandle first = rig.app->frozenFrameTexture;

    // Same size: the texture is reused; a new size makes a new one.
    rig.app->busyTask.snapshotRequested = true;
    rig.Frame();
    EXPECT_EQ(rig.app->frozenFrameTexture, first);
    rig.backend.pixelWidth = 800;
    rig.app->busyTask.snapshotRequested = true;
    rig.Frame();
    EXPECT_NE(rig.app->frozenFrameTexture, first);
    EXPECT_EQ(rig.backend.liveTextures.size(), 1u) << "the old copy was released";
}

TEST(FrameDriver, PendingResizesApplyOnceWithTheLastSize) {
    Rig rig;
    rig.driver.pendingResizeWidth = 1000;
    rig.driver.pendingResizeHeight = 600;
    rig.driver.pendingResizeWidth = 1100;  // a second size before the frame
    rig.driver.pendingResizeHeight = 700;
    rig.Frame();
    EXPECT_EQ(rig.backend.resizes, 1);
    EXPECT_EQ(rig.backend.pixelWidth, 1100);
    rig.Frame();
    EXPECT_EQ(rig.backend.resizes, 1);
}

TEST(FrameDriver, TexturesMustFitTheDevice) {
    Rig rig;
    rig.backend.maxTextureSize = 64;
    std::vector<uint8_t> pixels(65 * 4 * 4, 255);
    EXPECT_EQ(CreateTextureFromPixels(rig.driver, pixels.data(), 65, 4), nullptr);
    EXPECT_EQ(CreateTextureFromPixels(rig.driver, pixels.data(), 0, 4), nullptr);
    EXPECT_EQ(CreateTextureFromPixels(rig.driver, nullptr, 4, 4), nullptr);
    TextureHandle t = CreateTextureFromPixels(rig.driver, pixels.data(), 64, 4);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(rig.backend.liveTextures.count(t), 1u);
    ReleaseTexture(rig.driver, t);
    EXPECT_TRUE(rig.backend.liveTextures.empty());
}
