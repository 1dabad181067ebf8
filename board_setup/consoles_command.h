// `ventora-board consoles` and `consoles off`: listening on the home network for games on a
// PlayStation or an Xbox, turned on (with the PlayStations found, what to set in each game and the
// firewall rule) or off again. Windows.
#pragma once

// `consoles` (on) or `consoles off`; returns the tool's exit code.
int runConsolesCommand(bool on);

// The wizard's last step: asks whether the user races on a console, and turns listening on when
// so. A Ventora the wizard closed stays closed: the wizard starts it.
void offerConsoles();
