// Adding a line to the event log is what every room needs; the log pane that shows it is the
// application's own.
#pragma once
#include <string>

void appendLogLine(std::string text);
