// Where a recording goes when the user names none: "Kestrova-YYYY-MM-DD_HH-MM-SS.swf" in the
// user's videos folder, as other recorders on the desktop do, and never over a file that is
// there already.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace kestrova::platform {

using TGetEnvFunction = std::function<const char*(const char*)>;

// XDG_VIDEOS_DIR of the user's user-dirs.dirs ($XDG_CONFIG_HOME, else ~/.config) when it names a
// folder that exists, else ~/Videos when it exists, else home. A line may say "$HOME/..." or give
// an absolute path; a line that points at home itself means "no videos folder" there.
std::string VideosFolder(const std::string& home, const TGetEnvFunction& getEnv);

// folder/Kestrova-<local date and time of when>.swf; when that file (or its page) exists, the same
// name with "-2", "-3"... before ".swf", so a second recording in the same second keeps the first.
std::string TimestampedRecordingName(const std::string& folder, std::time_t when);

}  // namespace kestrova::platform
