// scoped_environment.h — sets environment variables for one test and puts
// the previous values back afterwards.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

    // The variables that locate the user folders, all unset.
    static constexpr const char* kUserFolderVariables[] = {"APPDATA", "USERPROFILE", "XDG_DATA_HOME", "HOME"};
    void UnsetUserFolderVariables();

private:
    void Remember(const std::string& name);
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
