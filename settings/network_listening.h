// Whether Ventora listens on the home network (for consoles) or on the loopback address only: a
// setting of its own, in network.txt beside config.bin, which stays the 20 bytes it is.
// ventora-board writes it; Ventora reads it at start-up. Platform-neutral: its text is tested natively.
#pragma once
#include <string>
#include <string_view>

inline constexpr std::string_view networkListeningFileName = "network.txt";

// True only for the text that turns listening on (one line "listen=home-network", its line end
// and a byte-order mark a text editor may add allowed). Anything else, an empty file included,
// means loopback only: a damaged file never opens Ventora to the network.
bool parseNetworkListening(std::string_view text);

// The file's whole text: "listen=home-network" or "listen=loopback", and a line end.
std::string networkListeningText(bool on);
