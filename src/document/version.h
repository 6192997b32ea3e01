// version.h — the program's version text, as files, the about box and the
// update check show it.
#pragma once

inline constexpr const char kProgramVersion[] = "2026.8";
