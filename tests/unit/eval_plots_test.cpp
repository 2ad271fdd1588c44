#include "tools/eval_plots.hpp"

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::size_t count_of(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(PlotScript, SeriesByColumnNamePanelsAndSettingsRestored)
{
    Plot plot{"p.png", "Title", "distance, mm", "[0:1]", false, "d.dat", {"key", "a", "b", "c"}, {}};
    plot.panels.push_back({"mm (log scale)", PlotScale::logarithmic, {{"c", 3, 1, "c p50"}, {"a", 1, 2, "a p95"}}});
    plot.panels.push_back({"share, %", PlotScale::percent, {{"b", 2, 1, "b"}}});
    const std::string script = plot_script(plot);
    EXPECT_NE(script.find("set output 'p.png'\nset multiplot layout 2,1 title 'Title'\n"), std::string::npos)
        << script;
    EXPECT_NE(script.find("plot 'd.dat' u 1:4 w lp lc 3 dt 1 t 'c p50', '' u 1:2 w lp lc 1 dt 2 t 'a p95'\n"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("set yrange [0:105]\nplot 'd.dat' u 1:3 w lp lc 2 dt 1 t 'b'\nset autoscale y\n"),
              std::string::npos)
        << script;
    // What a plot sets, it sets back, so that the next plot starts from the same settings.
    EXPECT_EQ(count_of(script, "\nset logscale y\n"), 1U);
    EXPECT_EQ(count_of(script, "\nunset logscale y\n"), 1U);
    EXPECT_NE(script.find("unset multiplot\nset autoscale x\n"), std::string::npos) << script;

    plot.panels.resize(1);  // one panel: a plain title, no multiplot
    plot.key_below = true;
    const std::string single = plot_script(plot);
    EXPECT_NE(single.find("set title 'Title'"), std::string::npos) << single;
    EXPECT_EQ(single.find("multiplot"), std::string::npos) << single;
    EXPECT_NE(single.find("unset title\n"), std::string::npos) << single;
    EXPECT_NE(single.find("set key outside right\n"), std::string::npos) << single;

    plot.panels[0].series.push_back({"missing", 1, 1, "x"});
    EXPECT_THROW(plot_script(plot), std::invalid_argument);
}

TEST(PlotScript, EverySweepPlotNamesColumnsOfItsData)
{
    std::vector<std::string> pngs;
    for (const Plot& plot : sweep_plots()) {
        pngs.push_back(plot.png);
        EXPECT_FALSE(plot.panels.empty()) << plot.png;
        EXPECT_NO_THROW(plot_script(plot)) << plot.png;
    }
    EXPECT_EQ(pngs, plot_names());
    EXPECT_EQ(std::set<std::string>(pngs.begin(), pngs.end()).size(), pngs.size());  // none drawn over another
}
