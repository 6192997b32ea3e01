// shell_services.cpp — the default services of the shell.
#include "app/shell_services.h"

#include "app/project_frame.h"
#include "app/shell_audio.h"
#include "operations/app_state.h"
#include "operations/preferences.h"
#include "operations/recipe_lists.h"
#include "picture/video_player.h"

ShellServices DefaultShellServices() {
    ShellServices services;
    services.savePreferences = [] { SavePreferences(); };
    services.stopBackgroundWorkers = [](AppState& app) { StopBackgroundWorkers(app); };
    services.openAudioOutput = OpenShellAudioOutput;
    services.closeAudioOutput = CloseShellAudioOutput;
    services.recipeNames = RecipeListNames;
    services.chainNames = ChainListNames;
    services.closeReferenceVideo = [] { CloseReferenceVideo(gVideoPlayer); };
    services.captureThumbnail = [](const FrameImage& image) { CaptureThumbnail(gAppState, image); };
    return services;
}

ShellServices gShellServices = DefaultShellServices();
