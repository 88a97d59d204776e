#include "cli/BurnSummary.h"

#include <cstdio>

namespace velk::cli {
namespace {

std::string fillText(const std::optional<int>& percent) {
    return percent ? std::to_string(*percent) + "%" : std::string("not measured");
}

}  // namespace

std::string burnSummaryText(const BurnSummary& summary) {
    char head[160];
    std::snprintf(head, sizeof head, "%s %u blocks (%.1f MB): %.1f MB/s writing (%.1fx), %.1f s in all",
                  summary.testWrite ? "test-wrote" : "burned", summary.blocks, summary.megabytes, summary.writingRate,
                  summary.timesOneX, summary.totalSeconds);
    std::string text = head;
    text += "; lowest ring buffer fill " + fillText(summary.lowestRingFill) + ", lowest drive buffer fill " +
            fillText(summary.lowestDriveFill);
    if (summary.underruns) {
        text += "; " + std::to_string(*summary.underruns) + (*summary.underruns == 1 ? " underrun" : " underruns");
    }
    text += "\n";
    if (summary.verifiedBlocks) text += "verified " + std::to_string(*summary.verifiedBlocks) + " blocks\n";
    return text;
}

}  // namespace velk::cli
