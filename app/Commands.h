// The commands of the kestrova program, as functions so tests can run them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrova {

// Prints the header and one line per tag of a SWF file. Returns the exit status.
int RunDump(const std::string& fileName, std::ostream& out, std::ostream& err);
// Loads, parses and rebuilds a SWF file and saves it; compression: -1 keep, 0 plain, 1 compressed.
int RunRewrite(const std::string& inName, const std::string& outName, int compression,
               std::ostream& out, std::ostream& err);
// Dispatches a command line (argv without the program name).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrova
