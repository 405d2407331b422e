#include "jobs/seq_write.h"

#include <algorithm>
#include <limits>

namespace tollwick {
namespace {

constexpr uint64_t kLargestNumber = std::numeric_limits<int32_t>::max();
constexpr std::size_t kTrackTextLimit = kMaxTrackText;

}  // namespace

uint64_t LeadingNumber(std::string_view text) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') break;
        const auto digit = static_cast<uint64_t>(ch - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
}

std::string SeqNumberText(int64_t number, int width) {
    std::string text = std::to_string(number);
    if (static_cast<int>(text.size()) < width) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

SeqWritePlan PlanSeqWrite(const SeqWriteEntry& entry, const TrackTexts& boxes) {
    SeqWritePlan plan;
    const uint64_t start = LeadingNumber(entry.start);
    const uint64_t total = LeadingNumber(entry.total);
    const uint64_t step = LeadingNumber(entry.step);
    if (start > kLargestNumber) {
        plan.refusal = "The starting number " + entry.start +
                       " is too large: card numbers go up to " + std::to_string(kLargestNumber) +
                       ".";
        return plan;
    }
    if (total > std::numeric_limits<uint32_t>::max() || step > kLargestNumber) {
        plan.refusal = "The total or the step is too large.";
        return plan;
    }
    // The numbers only grow: the last card carries the largest (below 2^63 here).
    const uint64_t last = total == 0 ? start : start + (total - 1) * step;
    if (last > kLargestNumber) {
        plan.refusal = "Card " + std::to_string(total) + " would carry a number beyond " +
                       std::to_string(kLargestNumber) + ". Please lower the total or the step.";
        return plan;
    }

    const auto track = static_cast<std::size_t>(std::clamp(entry.track, 0, 2));
    const std::string& base = boxes[track];
    const std::size_t longest =
        base.size() +
        std::max(entry.start.size(), SeqNumberText(static_cast<int64_t>(last), 0).size());
    if (total > 0 && longest > kTrackTextLimit) {
        plan.refusal = "Track" + std::to_string(track + 1) + " would need " +
                       std::to_string(longest) +
                       " characters with the numbers of this run; a track holds at most " +
                       std::to_string(kTrackTextLimit) + ".";
        return plan;
    }

    SeqWriteRun run;
    run.total = static_cast<uint32_t>(total);
    run.step = static_cast<int32_t>(step);
    run.number = static_cast<int32_t>(start);
    run.width = static_cast<int>(entry.start.size());
    run.track = static_cast<int>(track);
    run.baseText = base;
    for (std::size_t t = 0; t < 3; ++t) run.first.SetText(static_cast<int>(t), boxes[t]);
    run.first.SetText(run.track, base + entry.start);
    plan.run = std::move(run);
    return plan;
}

void SeqWriteWorker(JobContext context, std::stop_token stop, SeqWriteRun run) {
    TrackTexts texts = run.first.Texts();
    TrackTexts next = texts;
    int64_t number = run.number;
    // Counted here rather than from the monitor's count, which a report still pending leaves
    // behind: exactly `total` good cards are written.
    uint32_t written = 0;
    JobWriteRound round(context, stop, [&](const WriteAttempt& attempt, const TrackTexts& sent) {
        CardReport report = WrittenReport(ReportKind::kSeqWrite, attempt);
        // A card refused, or not read back as written, keeps its number for the next card.
        report.card.SetTexts(sent);
        if (attempt.Taken() && ++written < run.total) {
            number += run.step;
            report.card.SetText(run.track, run.baseText + SeqNumberText(number, run.width));
        }
        next = report.card.Texts();
        // The monitor shows the card to write next.
        context.reports.Push(std::move(report));
        return true;
    });
    while (written < run.total) {
        // The window's texts are fixed: a card whose status never came is handled as the stop
        // or the failed link that ended its wait.
        const StepOutcome taken =
            CauseOf(WriteUntilTaken(context.reader, texts, round, JobWait(stop)), stop);
        if (taken == StepOutcome::kStopped) return;
        if (taken != StepOutcome::kDone) {
            context.view.SetMessageLineDirectly("write Error");
            context.view.ShowSwipe(false);
            return;
        }
        texts = next;
    }
}

bool LaunchSeqWrite(JobMonitor& monitor, const SeqWriteRun& run) {
    JobContext& context = monitor.Context();
    JobView& view = context.view;
    JobFlags& flags = context.flags;
    monitor.StopJob(/*reset=*/false);
    view.EnableJobButtons(false);
    view.SetSwipeTitle("Write Card");
    view.SetSwipeColour(SwipeColour::kRed);
    view.SetSwipeLines("Please Swipe Card", "Swipe Counter  -->", "");
    view.ShowSwipe(false);
    view.CentreSwipe();

    flags.seqTotal.store(run.total);
    flags.swipeCount.store(0);
    // Card 0, reported at once: the monitor shows the first card and the count 1. (A refusal
    // left over from an earlier run is not reported again: it would put the count one behind.)
    context.reports.Push(CardReport::Of(ReportKind::kSeqWrite, CardStatus::kDone, run.first));

    JobContext worker = context;
    if (!monitor.Runner().Start(
            [worker, run](std::stop_token stop) { SeqWriteWorker(worker, stop, run); })) {
        view.SetMessageLineDirectly("Create Thread fail!");
        view.ShowSwipe(false);
        return false;
    }
    return true;
}

}  // namespace tollwick
