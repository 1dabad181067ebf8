// Reporting a start-up failure that leaves Ventora unable to run; every room may need it, the
// message box that shows it is the application's.
#pragma once

[[noreturn]] void fatalError(const char* text);
