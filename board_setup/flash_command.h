// flash: writes a firmware image (built in, or a HEX file) with its tunables to a board, page by
// page, and reads every page back. Windows.
#pragma once
#include <string>
#include <vector>

#include "board_setup/output_kinds.h"
#include "board_setup/tunables_image.h"

struct FlashRequest {
    int port = 0;
    OutputKind kind = outputKinds.front(); // the built-in image --output (or --esc) named
    bool kindChosen = false;               // without it, the kind the board runs, or the 4-pin fans'
    std::string hexPath;                   // not empty: this file instead of a built-in image
    std::vector<TunableChange> changes;
    bool replace = false; // write over a program that is not Ventora's firmware
};

// Flashes, telling the user how it goes; false, with the reason said, when it did not. written, when
// given, gets the tunables of the image written.
bool flashBoard(const FlashRequest& request, FirmwareTunables* written = nullptr);
