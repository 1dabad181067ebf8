// network.txt on disk, in the same folder as config.bin: read by Ventora at start-up, written by
// ventora-board when the user turns listening on the home network on or off.
#pragma once

// Whether the file says to listen on the home network; false when it is missing, unreadable or
// says anything else.
bool loadNetworkListening();

// Replaces the file whole (written beside it, then swapped in); false when it could not be written,
// the old file then left as it was.
bool saveNetworkListening(bool on);
