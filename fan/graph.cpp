// Painting the graph with GDI: frame and white interior by one rectangle, then the pixels the
// plan lists, all in a memory bitmap that reaches the window in one copy so it does not flicker.
#include "fan/graph.h"

#include "fan/graph_plan.h"
#include "fan/history.h"
#include "settings/settings_file.h"

namespace {

// Lives from start-up to exit; only pushHistory changes it.
History history;

constexpr RECT graphArea{graphRect.left, graphRect.top, graphRect.right, graphRect.bottom};

class MemoryDc {
  public:
    explicit MemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc() { DeleteDC(dc_); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    operator HDC() const { return dc_; }

  private:
    HDC dc_;
};

class CompatibleBitmap {
  public:
    CompatibleBitmap(HDC compatibleWith, int width, int height)
        : bitmap_(CreateCompatibleBitmap(compatibleWith, width, height)) {}
    ~CompatibleBitmap() { DeleteObject(bitmap_); }
    CompatibleBitmap(const CompatibleBitmap&) = delete;
    CompatibleBitmap& operator=(const CompatibleBitmap&) = delete;
    operator HBITMAP() const { return bitmap_; }

  private:
    HBITMAP bitmap_;
};

// Puts back the object that was selected before, so that the bitmap is no longer selected when
// it is deleted.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace

void pushHistory(FanLevel level, HWND mainWindow) {
    appendHistory(history, level);
    InvalidateRect(mainWindow, &graphArea, FALSE);
}

void paintGraph(HWND mainWindow) {
    PAINTSTRUCT paint;
    const HDC windowDc = BeginPaint(mainWindow, &paint);
    RECT client;
    GetClientRect(mainWindow, &client);
    {
        // Client-sized so that everything is drawn in window coordinates.
        const MemoryDc memoryDc(windowDc);
        const CompatibleBitmap bitmap(windowDc, client.right - client.left, client.bottom - client.top);
        const Selection bitmapSelection(memoryDc, bitmap);
        const Selection penSelection(memoryDc, GetStockObject(BLACK_PEN));

        // A new memory DC's default brush is the stock white one: this gives frame and interior.
        Rectangle(memoryDc, graphRect.left, graphRect.top, graphRect.right, graphRect.bottom);
        const GraphPlan plan = planGraph(settings.speedMin, settings.speedMax, history);
        for (const PlannedPixel& pixel : plan.drawOrder())
            SetPixel(memoryDc, pixel.x, pixel.y, pixel.colour);

        // Only the graph area: the labels and controls around it paint themselves.
        BitBlt(windowDc, graphRect.left, graphRect.top, graphRect.width(), graphRect.height(), memoryDc,
               graphRect.left, graphRect.top, SRCCOPY);
    }
    EndPaint(mainWindow, &paint);
}
