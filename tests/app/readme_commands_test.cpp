// The README is the newcomer's way in: its two commands must be all that sets
// up and tests the program (CI runs nothing else), and every design note it
// links must be there.
//
// Index
//   - Reading the README
//   - The commands are what CI runs
//   - Links and limits
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

//-----------------------------------------------------------------------------
// Reading the README
//-----------------------------------------------------------------------------

const std::string kSource = TL_SOURCE_DIR;

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The lines of the section that starts with `heading`, up to the next "## ".
std::vector<std::string> SectionOf(const std::vector<std::string>& lines, const std::string& heading) {
  std::vector<std::string> section;
  bool inside = false;
  for (const std::string& line : lines) {
    if (line.rfind("## ", 0) == 0) {
      if (inside) break;
      inside = line == heading;
      continue;
    }
    if (inside) section.push_back(line);
  }
  return section;
}

std::string FirstWord(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  in >> word;
  return word;
}

//-----------------------------------------------------------------------------
// The commands are what CI runs
//-----------------------------------------------------------------------------

TEST(ReadmeCommands, AreTheOnlyStepsCiTakesToSetUpAndTest) {
  std::vector<std::string> readme = LinesOf(kSource + "/README.md");
  ASSERT_FALSE(readme.empty());
  std::vector<std::string> commands = SectionOf(readme, "## Commands");
  ASSERT_FALSE(commands.empty()) << "the README has no \"## Commands\" section";

  // The commands are the section's indented block.
  std::set<std::string> listed;
  for (const std::string& line : commands)
    if (line.rfind("    ", 0) == 0 && !FirstWord(line).empty()) listed.insert(FirstWord(line));
  EXPECT_EQ(listed, (std::set<std::string>{"scripts/run", "scripts/test"}));
  for (const std::string& command : listed) {
    struct stat st{};
    ASSERT_EQ(stat((kSource + "/" + command).c_str(), &st), 0) << command;
    EXPECT_TRUE(st.st_mode & S_IXUSR) << command << " is not executable";
  }

  // CI's script may only move to the checkout and run a listed command.
  int ran = 0;
  for (std::string line : LinesOf(kSource + "/.ci/run")) {
    line.erase(0, line.find_first_not_of(" \t"));
    if (line.empty() || line[0] == '#' || line.rfind("set ", 0) == 0 || line.rfind("cd ", 0) == 0) continue;
    std::string command = FirstWord(line) == "bash" || FirstWord(line) == "exec"
                              ? FirstWord(line.substr(line.find(' ') + 1))
                              : FirstWord(line);
    EXPECT_TRUE(listed.count(command)) << ".ci/run runs \"" << line << "\", which the README does not list";
    ++ran;
  }
  EXPECT_GT(ran, 0) << ".ci/run runs nothing";
}

//-----------------------------------------------------------------------------
// Links and limits
//-----------------------------------------------------------------------------

TEST(ReadmeCommands, LinkedNotesExistAndEachLimitIsOneLine) {
  std::vector<std::string> readme = LinesOf(kSource + "/README.md");
  int links = 0;
  for (const std::string& line : readme) {
    for (size_t at = line.find("](docs/"); at != std::string::npos; at = line.find("](docs/", at + 1)) {
      size_t end = line.find(')', at);
      ASSERT_NE(end, std::string::npos) << line;
      std::string target = line.substr(at + 2, end - at - 2);
      EXPECT_TRUE(std::filesystem::is_regular_file(kSource + "/" + target)) << target << " is linked but missing";
      ++links;
    }
  }
  EXPECT_GT(links, 0);

  // A limit is one line: an item that runs on to a second line is narrating.
  std::vector<std::string> limits = SectionOf(readme, "## What it does not do");
  ASSERT_FALSE(limits.empty()) << "the README has no \"## What it does not do\" section";
  int items = 0;
  for (const std::string& line : limits) {
    if (line.empty()) continue;
    EXPECT_EQ(line.rfind("- ", 0), 0u) << "a limit runs past one line: \"" << line << "\"";
    ++items;
  }
  EXPECT_GT(items, 0);
}

}  // namespace
