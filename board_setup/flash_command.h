// flash: writes a firmware image (built in, or a HEX file) with its tunables to a board, page by
// page, and reads every page back. Windows.
#pragma once
#include <string>
#include <vector>

#include "board_setup/tunables_image.h"

struct FlashRequest {
    int port = 0;
    bool escs = false;
    std::string hexPath; // empty: the built-in image of the variant
    std::vector<TunableChange> changes;
    bool replace = false; // write over a program that is not Ventora's firmware
};

// Flashes, telling the user how it goes; false, with the reason said, when it did not.
bool flashBoard(const FlashRequest& request);
