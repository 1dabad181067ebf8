// The graph's pixels: the mapping line of the settings and the dots of the newest fan levels,
// checked on a raster drawn the way the paint code draws: frame, white interior, then the plan.
#include "fan/graph_plan.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t black = 0x00000000;
constexpr std::uint32_t white = 0x00FFFFFF;
constexpr std::uint32_t blue = 0x00FF0000;
constexpr std::uint32_t red = 0x000000FF;

// The graph area in client coordinates, as the window shows it after a paint.
class Canvas {
  public:
    explicit Canvas(const GraphPlan& plan) : pixels_(graphRect.width() * graphRect.height(), white) {
        for (int x = graphRect.left; x < graphRect.right; ++x) {
            at(x, graphRect.top) = black;
            at(x, graphRect.bottom - 1) = black;
        }
        for (int y = graphRect.top; y < graphRect.bottom; ++y) {
            at(graphRect.left, y) = black;
            at(graphRect.right - 1, y) = black;
        }
        for (const PlannedPixel& pixel : plan.drawOrder())
            at(pixel.x, pixel.y) = pixel.colour;
    }

    std::uint32_t pixel(int x, int y) const { return pixels_.at(index(x, y)); }

    // The rows of column x that are neither white nor frame.
    std::vector<int> markedRows(int x) const {
        std::vector<int> rows;
        for (int y = graphRect.top + 1; y < graphRect.bottom - 1; ++y)
            if (pixel(x, y) != white) rows.push_back(y);
        return rows;
    }

  private:
    std::uint32_t& at(int x, int y) { return pixels_.at(index(x, y)); }
    static std::size_t index(int x, int y) {
        // Anything drawn outside the graph area would be a fault; at() throws on it.
        if (x < graphRect.left || x >= graphRect.right || y < graphRect.top || y >= graphRect.bottom)
            return static_cast<std::size_t>(-1);
        return static_cast<std::size_t>((y - graphRect.top) * graphRect.width() + (x - graphRect.left));
    }
    std::vector<std::uint32_t> pixels_;
};

History historyOf(std::initializer_list<FanLevel> levels) {
    return History(levels);
}

TEST(GraphPlan, MappingLineWorkedExamples) {
    struct Row {
        int speedMin, speedMax;
        int x, y;
    };
    const Row rows[] = {
        {0, 79, 11, 250},    // step 0
        {0, 79, 13, 250},    // step 2, still level 0
        {0, 79, 14, 249},    // level 1 from step 3
        {0, 79, 241, 211},   // step 230: level 39
        {0, 79, 242, 210},   // step 231: level 40
        {0, 79, 469, 172},   // step 458: level 78
        {0, 79, 470, 171},   // level 79 from step 459
        {0, 79, 472, 171},   // to step 461
        {-20, 99, 11, 250},  // along row 250
        {-20, 99, 90, 250},  // up to step 79
        {-20, 99, 91, 249},  // level 1 at step 80
        {-20, 99, 392, 172}, // step 381: level 78
        {-20, 99, 393, 171}, // level 79 at step 382
        {-20, 99, 472, 171}, // along row 171 to the last column
        {79, 0, 11, 171},    // falling from level 79
        {79, 0, 241, 210},   // step 230: level 40
        {79, 0, 242, 211},   // step 231: level 39
        {79, 0, 472, 250},   // step 461: level 0
        {10, 70, 11, 240},   // from level 10
        {10, 70, 472, 180},  // to level 70
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.speedMin << ".." << row.speedMax << " column " << row.x);
        const Canvas canvas(planGraph(row.speedMin, row.speedMax, History{}));
        EXPECT_EQ(canvas.markedRows(row.x), std::vector<int>{row.y});
        EXPECT_EQ(canvas.pixel(row.x, row.y), blue);
    }
}

TEST(GraphPlan, MappingLineHasOneBluePixelInEachInteriorColumn) {
    // The last two straight from a settings file, before the sliders have brought them into range.
    for (const auto& [speedMin, speedMax] :
         {std::pair{0, 79}, std::pair{-20, 99}, std::pair{79, 0}, std::pair{INT32_MIN, INT32_MAX},
          std::pair{INT32_MAX, INT32_MIN}}) {
        const GraphPlan plan = planGraph(speedMin, speedMax, History{});
        ASSERT_EQ(plan.drawOrder().size(), 462u);
        int expectedColumn = 11;
        for (const PlannedPixel& pixel : plan.drawOrder()) {
            EXPECT_EQ(pixel.x, expectedColumn++);
            EXPECT_EQ(pixel.colour, blue);
            EXPECT_GE(pixel.y, 171);
            EXPECT_LE(pixel.y, 250);
        }
    }
}

TEST(GraphPlan, EqualEndsDrawAHorizontalLineOnTheClampedLevel) {
    for (const auto& [setting, row] : {std::pair{40, 210}, std::pair{99, 171}, std::pair{-20, 250}}) {
        const Canvas canvas(planGraph(setting, setting, History{}));
        for (int x = 11; x <= 472; ++x)
            ASSERT_EQ(canvas.markedRows(x), std::vector<int>{row}) << setting;
    }
}

TEST(GraphPlan, DotsOfTheFirstThreeTicksSitAtTheRightEdge) {
    const Canvas canvas(planGraph(0, 79, historyOf({26, 0, 79})));
    EXPECT_EQ(canvas.pixel(472, 171), red);
    EXPECT_EQ(canvas.pixel(471, 250), red);
    EXPECT_EQ(canvas.pixel(470, 224), red);
    for (int x = 11; x <= 469; ++x) {
        const std::vector<int> rows = canvas.markedRows(x);
        ASSERT_EQ(rows.size(), 1u) << "column " << x;
        EXPECT_EQ(canvas.pixel(x, rows[0]), blue) << "column " << x;
    }
    // The frame stays black around the dots at the edges of the level range.
    EXPECT_EQ(canvas.pixel(472, 170), black);
    EXPECT_EQ(canvas.pixel(471, 251), black);
    EXPECT_EQ(canvas.pixel(473, 171), black);
}

TEST(GraphPlan, DotIsDrawnOverTheLine) {
    // The line ends on level 79 at column 472, where the newest level 79 lands too.
    const GraphPlan plan = planGraph(0, 79, historyOf({79}));
    EXPECT_EQ(Canvas(plan).pixel(472, 171), red);
    ASSERT_EQ(plan.drawOrder().size(), 463u);
    EXPECT_EQ(plan.drawOrder().back().colour, red);
}

TEST(GraphPlan, FullHistoryShowsItsNewest462Entries) {
    History history;
    for (std::size_t tick = 0; tick < historyCapacity; ++tick)
        appendHistory(history, static_cast<FanLevel>(tick % 80));
    const GraphPlan plan = planGraph(-20, -20, history); // the line stays on row 250, out of the way

    std::size_t dots = 0;
    for (const PlannedPixel& pixel : plan.drawOrder())
        dots += pixel.colour == red;
    EXPECT_EQ(dots, 462u);

    const Canvas canvas(plan);
    EXPECT_EQ(canvas.pixel(472, rowOfLevel(history[463])), red);
    EXPECT_EQ(canvas.pixel(11, rowOfLevel(history[2])), red); // the 462nd newest
    EXPECT_EQ(canvas.pixel(12, rowOfLevel(history[3])), red);
}

} // namespace
