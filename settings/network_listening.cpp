// The listening setting's one line.
#include "settings/network_listening.h"

namespace {

constexpr std::string_view onLine = "listen=home-network";
constexpr std::string_view offLine = "listen=loopback";
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

} // namespace

bool parseNetworkListening(std::string_view text) {
    if (text.starts_with(byteOrderMark)) text.remove_prefix(byteOrderMark.size());
    if (text.ends_with('\n')) text.remove_suffix(1);
    if (text.ends_with('\r')) text.remove_suffix(1);
    return text == onLine;
}

std::string networkListeningText(bool on) {
    return std::string(on ? onLine : offLine) + "\n";
}
