// launcher_actions.cpp — the launcher's buttons on the program's document:
// the project commands of the lifecycle, whose results say whether the card
// closes.
#include "app/project_commands.h"
#include "ui/launcher_logic.h"

namespace {

LauncherOutcome OutcomeOf(ProjectCommandResult result, bool cancelCloses) {
    switch (result) {
        case ProjectCommandResult::Done:
        case ProjectCommandResult::Prompted: return LauncherOutcome::Close;
        case ProjectCommandResult::Cancelled: return cancelCloses ? LauncherOutcome::Close : LauncherOutcome::StayOpen;
        case ProjectCommandResult::Refused:
        case ProjectCommandResult::Failed: return LauncherOutcome::StayOpen;
    }
    return LauncherOutcome::StayOpen;
}

}  // namespace

LauncherActions ProgramLauncherActions() {
    LauncherActions a;
    a.openRecent = [](const std::string& path) {
        return OutcomeOf(LauncherOpenRecent(ProgramLifecycleContext(), path), false);
    };
    a.newProject = [] { return OutcomeOf(NewProjectCommand(ProgramLifecycleContext()), true); };
    a.openFile = [] { return OutcomeOf(OpenProjectCommand(ProgramLifecycleContext()), false); };
    a.savePreferences = [] {
        const LifecycleContext ctx = ProgramLifecycleContext();
        if (ctx.savePreferences) ctx.savePreferences();
    };
    return a;
}

