// exported_files.h — an export's folder read back for comparing two exports.
//
// Index
//   ExportedFiles          every file below a folder, with its bytes; a WAV file's clock fields blanked
//   ExpectSameExportFiles  two exports hold the same names and, AAF sessions aside, the same bytes
#pragma once

#include <map>
#include <string>

// Every regular file below `folder` by its path relative to it, with its
// bytes. In a WAV file the bext chunk's origination date and time (the
// writer's clock at the moment of writing) are zeroed; every other byte is
// as written, so two exports of the same project compare equal.
std::map<std::string, std::string> ExportedFiles(const std::string& folder);

// Test expectations: the same file names, and every file but the AAF session
// files (whose object ids and dates are their own; compare what a reader
// places instead) byte for byte.
void ExpectSameExportFiles(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b);
