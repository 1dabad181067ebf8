// The baseline for Ventora's running cost: a GUI program that does nothing but sleep 100 ms at a
// time, so that what Wine itself costs shows beside what Ventora adds.
#include "win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    for (;;)
        Sleep(100);
}
