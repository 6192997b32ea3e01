// compound_directory.h — repairs the directory of a compound file held in
// memory: the siblings of every storage become a balanced red-black tree.
//
// Index
//   BalanceCompoundDirectory   rebuild every storage's sibling tree
//
// libgsf links the entries of a storage as one long chain of right siblings.
// Readers walk that chain recursively or search it linearly: a storage of
// 10,000 elements overflows olefile's recursion and makes every lookup slow.
// The directory format asks for a red-black tree ordered by name length, then
// by upper-cased name; this writes one, balanced, over the same entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `file` is a whole compound file. Fails (leaving `file` unchanged) when its
// header, allocation table or directory chain cannot be followed.
bool BalanceCompoundDirectory(std::vector<uint8_t>& file, std::string* error);
