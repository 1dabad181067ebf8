// Times one paintGraph under Wine: a 500 x 500 window like Ventora's, a full History, and the
// graph repainted through the ordinary invalidate-and-paint path. Prints microseconds per paint.
#include "win32.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "fan/graph.h"
#include "settings/settings_file.h"

// paintGraph reads the settings; here they keep their defaults.
SettingsRecord settings;

namespace {

constexpr int warmUpPaints = 50;
constexpr int measuredPaints = 2000;

LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        paintGraph(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

double microsecondsBetween(LARGE_INTEGER start, LARGE_INTEGER end, LARGE_INTEGER frequency) {
    return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = benchWindowProc;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "VentoraPaintBench";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "VentoraPaintBench", "paint bench", WS_CAPTION | WS_SYSMENU, 0, 0, 500, 500,
                                  nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);

    // A full History of varied levels, so every dot is drawn.
    for (int tick = 0; tick < 464; ++tick)
        pushHistory(static_cast<FanLevel>((tick * 7) % 80), window);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> samples;
    for (int paint = 0; paint < warmUpPaints + measuredPaints; ++paint) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        pushHistory(static_cast<FanLevel>(paint % 80), window);
        UpdateWindow(window);
        QueryPerformanceCounter(&end);
        if (paint >= warmUpPaints)
            samples.push_back(microsecondsBetween(start, end, frequency));
    }
    std::sort(samples.begin(), samples.end());
    std::printf("paintGraph: %d paints, median %.1f us, p99 %.1f us, max %.1f us\n", measuredPaints,
                samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back());
    return 0;
}
