#pragma once

#include "TestSupport.h"

#include <cstdlib>

namespace ornavel::test {

// Every test process gets a configuration folder of its own, so no test reads or writes the
// user's settings, rules or window placement, and tests running side by side do not meet.
class TOwnConfigFolder {
public:
  TOwnConfigFolder() { setenv("XDG_CONFIG_HOME", FFolder.Path().c_str(), 1); }

private:
  TTemporaryFolder FFolder;
};

} // namespace ornavel::test
