// Start-up failures that leave Ventora unable to run.
#pragma once

[[noreturn]] void fatalError(const char* text);
