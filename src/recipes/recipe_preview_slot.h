// recipe_preview_slot.h — the one background thread that renders a saved
// recipe's audition file, and the hook through which its renderer is installed.
//
// Index
//   RecipePreviewRenderFn      writes the preview file of a preset; true when written
//   SetRecipePreviewRenderer   install the renderer (start-up); none means no previews
//   StartRecipePreview         join the previous preview, start the next on a shared copy
//   RecipePreviewWorker        the thread body
//   JoinRecipePreview          wait for the preview thread (before a project opens, at exit)
//   RecipePreviewRunning       whether a preview is being rendered now
//
// The thread slot belongs to the UI thread: only it starts and joins. The
// worker reads its own copy of the preset, the running flag and the program's
// sound library, which it holds for reading (HoldLibraryForReading) from the
// moment it is started until its renderer returns.
#pragma once

#include <memory>

struct EventPreset;

using RecipePreviewRenderFn = bool (*)(const EventPreset& preset);

void SetRecipePreviewRenderer(RecipePreviewRenderFn render);

// Waits for the previous preview to end, then starts the installed renderer
// on a copy of `preset`. False when no renderer is installed or the thread
// could not be started (then nothing runs and the reason is logged).
bool StartRecipePreview(const EventPreset& preset);

void RecipePreviewWorker(std::shared_ptr<const EventPreset> preset, RecipePreviewRenderFn render);

// Joins the preview thread when there is one. Does nothing on the preview
// thread itself.
void JoinRecipePreview();

// Set from the moment a preview is started until its renderer returns, so
// that tidying the recipes folder can stay away from a file being written.
bool RecipePreviewRunning();
