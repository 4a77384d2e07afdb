#pragma once
// Finds the running X session manager by its ICE listening socket.

#include <string>

extern const char* const kIceSocketFolder;  // "/tmp/.ICE-unix/"

// Takes the first socket in folder that is named by the number of a live
// process and is owned by the user running this program. Fills the owner's
// login name and the SESSION_MANAGER value (four transport addresses) and
// returns true; false with both outputs unchanged otherwise. folder ends in "/".
bool FindSessionManager(std::string& userName, std::string& sessionManager,
                        const char* folder = kIceSocketFolder);
