// file_names.h — the one check of a name that becomes a file name, and the
// one comparison of a file's extension.
//
// Index
//   FileNameProblem   why a user's name cannot name a file, or "" when it can
//   EndsWithNoCase    a name's ending (an extension) compared without ASCII case
//
// Libraries, recipes, chains, bounces and exports all store their names as
// file names in folders the program owns. A name must neither leave that
// folder nor hide control characters in it, and it is refused whole with a
// message rather than quietly changed, so the name in a file always matches
// the file it lives in.
#pragma once

#include <string>
#include <string_view>

// "" when `name` may become a file name (or the stem of one); otherwise a
// sentence for the user naming the problem: an empty name, "." alone, a "/",
// a "..", or a control character (bytes below 0x20 and 0x7F).
std::string FileNameProblem(std::string_view name);

// True when `text` ends with `tail`, the ASCII letters compared without
// case and every other byte as it is: "Reel.WAV" ends with ".wav".
bool EndsWithNoCase(std::string_view text, std::string_view tail);
