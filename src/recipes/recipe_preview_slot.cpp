// recipe_preview_slot.cpp — starting, running and joining the preview thread.
//
// Index
//   PreviewSlot                 the thread handle, the renderer and the running flag
//   SetRecipePreviewRenderer / StartRecipePreview / RecipePreviewWorker
//   JoinRecipePreview / RecipePreviewRunning
#include "recipes/recipe_preview_slot.h"

#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>

#include "document/worker_stops.h"
#include "library/sound_library.h"
#include "recipes/event_preset.h"

namespace {

struct PreviewSlot {
    std::thread thread;  // UI thread only
    std::atomic<RecipePreviewRenderFn> render{nullptr};
    std::atomic<uint8_t> running{0};
};

PreviewSlot& Slot() {
    // Never destroyed: the shell joins the thread before exit, and a slot
    // destroyed first would end the process over a joinable thread.
    static PreviewSlot* slot = new PreviewSlot;
    return *slot;
}

}  // namespace

void SetRecipePreviewRenderer(RecipePreviewRenderFn render) { Slot().render.store(render); }

bool StartRecipePreview(const EventPreset& preset) {
    PreviewSlot& slot = Slot();
    JoinRecipePreview();
    RecipePreviewRenderFn render = slot.render.load();
    if (render == nullptr) return false;
    if (!gBackgroundWorkerStops.joinRecipePreview) gBackgroundWorkerStops.joinRecipePreview = JoinRecipePreview;
    auto copy = std::make_shared<const EventPreset>(preset);
    // Raised here rather than in the worker: the folder may be tidied, and
    // the libraries changed, on this thread right after the save, before the
    // worker has begun.
    slot.running.store(1);
    HoldLibraryForReading(gSoundLibrary);
    try {
        slot.thread = std::thread(RecipePreviewWorker, std::move(copy), render);
    } catch (const std::system_error& error) {
        ReleaseLibraryHold(gSoundLibrary);
        slot.running.store(0);
        std::printf("[Recipes] could not start the recipe preview: %s\n", error.what());
        return false;
    }
    return true;
}

void RecipePreviewWorker(std::shared_ptr<const EventPreset> preset, RecipePreviewRenderFn render) {
    PreviewSlot& slot = Slot();
    slot.running.store(1);
    render(*preset);
    preset.reset();
    ReleaseLibraryHold(gSoundLibrary);
    slot.running.store(0);
}

void JoinRecipePreview() {
    PreviewSlot& slot = Slot();
    if (!slot.thread.joinable() || slot.thread.get_id() == std::this_thread::get_id()) return;
    slot.thread.join();
}

bool RecipePreviewRunning() { return Slot().running.load() != 0; }
