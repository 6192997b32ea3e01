// interface_install.cpp — the interface's registrations with the shell.
#include "ui/interface_install.h"

#include "app/test_driver.h"
#include "ui/draw_ui.h"
#include "ui/events_list.h"
#include "ui/events_tab.h"
#include "ui/export_tab.h"
#include "ui/frame_commands.h"
#include "ui/icons.h"
#include "ui/job_protocol.h"
#include "ui/launcher.h"
#include "ui/library_panel.h"
#include "ui/main_bands.h"
#include "ui/mixer_panel.h"
#include "ui/notices.h"
#include "ui/palette_popup.h"
#include "ui/script_edits.h"
#include "ui/settings_panel.h"
#include "ui/tab_row.h"
#include "ui/timeline_panel.h"
#include "ui/trace_panel.h"
#include "ui/unsaved_prompt.h"

void InstallInterface() {
    RegisterStateDump(DumpUiFrameFields);
    RegisterStateDump(DumpTabRow);
    RegisterDocumentStateDump(DumpTimeline);
    RegisterDocumentStateDump(DumpTracePanel);
    RegisterStateDump(DumpCommandFields);
    RegisterDocumentStateDump(DumpMainBands);
    RegisterStateDump(DumpLauncher);
    RegisterStateDump(DumpPromptFields);
    SetTitlePrompt(DrawTitlePrompt);
    RegisterStateDump(DumpJobProtocol);
    RegisterStateDump(DumpLibraryPanel);
    RegisterDocumentStateDump(DumpEventsList);
    RegisterDocumentStateDump(DumpInspector);
    RegisterStateDump(DumpPalettePopup);
    RegisterStateDump(DumpAboutBox);
    RegisterStateDump(DumpMixerFields);
    RegisterDocumentStateDump(DumpSettingsFields);
    RegisterDocumentStateDump(DumpExportFields);
}

ShellInterface InterfaceForShell() {
    ShellInterface ui;
    ui.drawUI = DrawUI;
    ui.install = InstallInterface;
    ui.glyphs = kInterfaceGlyphs;
    ui.scriptEdit = MakeScriptEdit;
    return ui;
}
