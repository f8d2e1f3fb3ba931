#pragma once

#include <string>

namespace ornavel {

// The folder that holds Config.xml and Rules.xml: $XDG_CONFIG_HOME/Ornavel, or
// $HOME/.config/Ornavel when XDG_CONFIG_HOME is unset or empty; made (owner only) if missing.
// Returned without a trailing separator. Fails when neither variable is set or the folder cannot
// be made.
std::string GetAppDataFolder();

// folder, a separator unless it ends with one, and name.
std::string IncludePath(const std::string& folder, const std::string& name);

} // namespace ornavel
