// mirva-cam, the command-line client of the camera server's HTTP API.
//   mirva-cam [--server URL] [--json] list | props LOC [PATTERN] | get LOC NAME
//             | set LOC NAME VALUE [--text] | snap LOC FILE.png | watch LOC [--count N] | save LOC | load LOC
// --server and --json may stand anywhere on the line; --json prints the server's answers as JSON.
// Every failure prints ONE line on err and gives a non-zero exit code.
#pragma once

#include <iosfwd>

namespace mirva::cli {

// Exit codes: 0 done, 1 failure (server, name, value, timeout), 2 wrong usage.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace mirva::cli
