// shell_services.cpp — the default services of the shell.
#include "app/shell_services.h"

#include "app/app_state.h"
#include "app/shell_audio.h"
#include "persistence/preferences.h"
#include "recipes/recipe_lists.h"

ShellServices DefaultShellServices() {
    ShellServices services;
    services.savePreferences = [] { SavePreferences(); };
    services.stopBackgroundWorkers = [](AppState& app) { StopBackgroundWorkers(app); };
    services.openAudioOutput = OpenShellAudioOutput;
    services.closeAudioOutput = CloseShellAudioOutput;
    services.recipeNames = RecipeListNames;
    services.chainNames = ChainListNames;
    return services;
}

ShellServices gShellServices = DefaultShellServices();
