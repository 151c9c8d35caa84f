// Where the running program's file is, for finding what is installed beside it.
//
// Thread contract: any thread.
#pragma once

#include <string>

namespace orvane {

// The absolute path of the running program's file, symbolic links resolved; empty when the
// system cannot say.
std::string ProgramPath();

} // namespace orvane
