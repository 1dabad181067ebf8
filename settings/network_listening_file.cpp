// network.txt through the ANSI file API, beside config.bin.
#include "settings/network_listening_file.h"

#include "win32.h"

#include <cstdio>
#include <string>

#include "settings/network_listening.h"
#include "settings/settings_store.h"

namespace {

// Far more than the one line; a longer file is not ours and reads as off.
constexpr std::size_t readLimit = 64;

// Empty when Windows has no application-data folder for the user.
std::string networkListeningPath() {
    std::string path = settingsFilePath();
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1) + std::string(networkListeningFileName);
}

} // namespace

bool loadNetworkListening() {
    const std::string path = networkListeningPath();
    if (path.empty()) return false;
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "rb") != 0 || file == nullptr) return false;
    char text[readLimit + 1];
    const std::size_t count = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    return count <= readLimit && parseNetworkListening({text, count});
}

bool saveNetworkListening(bool on) {
    const std::string path = networkListeningPath();
    if (path.empty()) return false;
    const std::string text = networkListeningText(on);
    return replaceFileWhole(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}
