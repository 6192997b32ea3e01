// interface_install.h — how the interface joins the shell: the frame it draws
// and what it registers once the window is up.
//
// Index
//   InstallInterface    the panels' state dumps and the title-bar prompt
//   InterfaceForShell   DrawUI and InstallInterface, as RunShell takes them
#pragma once

#include "app/shell.h"

void InstallInterface();

ShellInterface InterfaceForShell();
