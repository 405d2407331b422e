#include "jobs/job_monitor.h"

#include "carddata/data_type.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kSwipeCounter[] = "Swipe Counter  -->";
constexpr int kCountBlinkMs = 50;
constexpr int kCopyPauseMs = 5;
constexpr int kComparePauseMs = 50;
constexpr int kConnectPauseMs = 100;

// The count as the window prints it: a signed decimal.
std::string CountText(uint32_t count) {
    return std::to_string(static_cast<int32_t>(count));
}

// `pattern` with its "%d" replaced by the count.
std::string WithCount(std::string_view pattern, uint32_t count) {
    std::string text(pattern);
    const auto at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, CountText(count));
    return text;
}

const TrackTexts kEmptyTracks{};

// Verify after write: what the message line adds to a card read back as written, and says of one
// that was not.
constexpr char kVerified[] = ", verified";
std::string NotVerified(std::string_view written, const CardReport& report) {
    return std::string(written) + " not verified: " + VerifyFailureText(report);
}
// The box for a card that did not verify, where a refused card gets its box.
std::string NotVerifiedBox(uint32_t count, const CardReport& report) {
    const std::string what =
        report.check == WriteCheck::kNotReadBack
            ? WithCount("Card<%d> was written but not read back to verify it.", count)
            : WithCount("Card<%d> did not read back as written (", count) +
                  (report.verifyDetail.empty() ? VerifyFailureText(report) : report.verifyDetail) +
                  "). The Inspector (Ctrl+I) shows its bits.";
    return what + " Put it aside: the same data goes onto the next card.";
}

}  // namespace

JobMonitor::JobMonitor(JobContext context) : context_(context), runner_(context.view) {}

JobMonitor::~JobMonitor() = default;

bool JobMonitor::Tick() {
    if (ended_) return false;
    if (showing_) return true;
    runner_.Poll();
    JobFlags& flags = context_.flags;
    if (flags.startupDone.load(std::memory_order_acquire) == 0) ConnectionSequence();
    if (flags.exitRequested.load(std::memory_order_acquire) == 1) {
        ended_ = true;
        context_.view.EndAsOk();
        return false;
    }
    showing_ = true;
    RunBranches();
    showing_ = false;
    return true;
}

void JobMonitor::RunBranches() {
    RunBranch(ReportKind::kRead, &JobMonitor::ReadBranch);
    RunBranch(ReportKind::kWrite, &JobMonitor::WriteBranch);
    RunBranch(ReportKind::kSeqWrite, &JobMonitor::SequentialBranch);
    RunBranch(ReportKind::kErase, &JobMonitor::EraseBranch);
    RunBranch(ReportKind::kCopyRead, &JobMonitor::CopyReadBranch);
    RunBranch(ReportKind::kCopyWrite, &JobMonitor::CopyWriteBranch);
    RunBranch(ReportKind::kCompare, &JobMonitor::CompareBranch);
}

void JobMonitor::RunBranch(ReportKind kind, Branch branch) {
    ReportQueue& reports = context_.reports;
    if (std::optional<CardReport> report = reports.TakeIf(kind)) {
        (this->*branch)(*report);
        reports.Shown();
    }
}

void JobMonitor::ShowPendingReports() {
    if (showing_) return;
    showing_ = true;
    while (context_.reports.Pending()) RunBranches();
    showing_ = false;
}

void JobMonitor::StopJob(bool reset) {
    const bool running = runner_.Active();
    runner_.Stop();
    // A reset that fails marks the reader gone; the next command says so.
    if (reset || running) static_cast<void>(context_.reader.ResetReader());
    ShowPendingReports();
}

// The reader's side is ConnectAtStartup's (the programs share it); the window's is here: its
// messages, controls and connection line, the port kept in the profile, the pause before the
// window opens.
void JobMonitor::ConnectionSequence() {
    JobView& view = context_.view;
    context_.flags.startupDone.store(1, std::memory_order_release);
    const std::string stored = context_.profile.Read(kPortKey, "");
    connection_ = ConnectAtStartup(context_.reader, stored, context_.format.Density(),
                                   ConnectDetail::kFullHiCo);
    if (!connection_.Connected()) {
        view.SetMessage("Not Connect Device");
        view.EnableJobButtons(false);
        view.EnableReaderControls(false);
        view.EnableSetup(true);
        view.SetConnectionLine("");
        if (!passwordPending_) view.EnableWindow(true);
        return;
    }
    const int port = connection_.port;
    // The message is shown as soon as the stored port answers, and again once set up.
    if (!stored.empty() && StoredTextToInt(stored) == port) view.SetMessage("Device READY");
    // The profile is rewritten (and synced) only when the port changed.
    if (storesPort_ && stored != std::to_string(port)) StorePort(context_.profile, port);
    view.SetMessage("Device READY");
    if (connection_.coercivity) view.SelectHiCo();
    if (connection_.versionRead) {
        view.SetConnectionLine(ConnectionLine(port, connection_.version));
        if (connection_.beepSupported) view.EnableBeeper(true);
    }
    view.Sleep(kConnectPauseMs);
    if (!passwordPending_) view.EnableWindow(true);
}

// The swipe window blinks once per card and shows the number of the next one.
void JobMonitor::CountRefresh(uint32_t count, bool centre) {
    JobView& view = context_.view;
    std::string text(1, ' ');
    text.append(CountText(count)).push_back(' ');
    view.ShowSwipe(false);
    view.Sleep(kCountBlinkMs);
    view.SetSwipeCount("");
    view.SetSwipeCount(text);
    if (centre) view.CentreSwipe();
    view.ShowSwipe(true);
    view.Repaint();
}

void JobMonitor::ReadBranch(const CardReport& report) {
    JobFlags& flags = context_.flags;
    const uint32_t count = flags.swipeCount.load();
    // A card that failed its check is not counted: the message line keeps naming the last good
    // card ("Read Card<0> OK" when the first one fails), the failed track shows its error marker
    // and the worker has shown "Read Error!!".
    const bool failed = report.card.trackErrors != 0;
    const uint32_t shown = failed ? count - 1 : count;
    context_.view.SetMessage(WithCount("Read Card<%d> OK", shown));
    const uint32_t next = shown + 1;
    flags.swipeCount.store(next);
    context_.view.ShowTracks(report.card.Texts());
    CountRefresh(next);
}

void JobMonitor::WriteBranch(const CardReport& report) {
    JobFlags& flags = context_.flags;
    JobView& view = context_.view;
    if (report.Refused()) {
        view.ShowSwipe(false);
        view.MessageBox("Write Error1");
        view.ShowSwipe(true);
        return;
    }
    const uint32_t count = flags.swipeCount.load();
    if (report.FailedVerify()) {
        // Counted as failed, as a refused card is; the worker writes the same data again.
        view.SetMessage(NotVerified(WithCount("Write Card<%d>", count), report));
        view.ShowSwipe(false);
        view.MessageBox(NotVerifiedBox(count, report));
        view.ShowSwipe(true);
        return;
    }
    const bool verified = report.check == WriteCheck::kVerified;
    view.SetMessage(WithCount("Write Card<%d> OK", count) + (verified ? kVerified : ""));
    view.ShowTracks(report.card.Texts());
    CountRefresh(flags.swipeCount.fetch_add(1) + 1);
}

void JobMonitor::SequentialBranch(const CardReport& report) {
    JobFlags& flags = context_.flags;
    JobView& view = context_.view;
    if (report.Refused()) {
        view.MessageBox("Write Error2");
        return;
    }
    const uint32_t count = flags.swipeCount.load();
    if (report.FailedVerify()) {
        // The same number goes onto the next card, as after "Write Error2".
        view.SetMessage(NotVerified(WithCount("Write Card <%d>", count), report));
        view.MessageBox(NotVerifiedBox(count, report));
        return;
    }
    const bool verified = report.check == WriteCheck::kVerified;
    view.SetMessage(WithCount("Write Card <%d> OK", count) + (verified ? kVerified : ""));
    if (count >= flags.seqTotal.load()) {
        view.ShowSwipe(false);
        // The run is over; its worker must be off the link before the reset.
        runner_.Stop();
        static_cast<void>(context_.reader.ResetReader());
        view.EnableJobButtons(true);
        return;
    }
    const uint32_t next = flags.swipeCount.fetch_add(1) + 1;
    view.ShowTracks(report.card.Texts());  // the next card to write
    CountRefresh(next, /*centre=*/true);
}

void JobMonitor::EraseBranch(const CardReport& report) {
    JobFlags& flags = context_.flags;
    JobView& view = context_.view;
    view.ShowSwipe(false);
    if (report.status == CardStatus::kDone) {
        view.MessageBox("Erase OK");
        view.SetMessage(WithCount("Erase Card <%d> OK!", flags.swipeCount.load()));
        view.SetSwipeCount(CountText(flags.swipeCount.fetch_add(1) + 1));
    } else {
        view.MessageBox("Erase Fail");
    }
    view.ShowSwipe(true);
    view.EnableJobButtons(true);
    view.Repaint();
}

void JobMonitor::CopyReadBranch(const CardReport& report) {
    JobView& view = context_.view;
    view.ShowSwipe(false);
    view.ShowTracks(report.card.Texts());
    if (report.card.trackErrors != 0) {
        view.SetMessage("Read <TARGET> Card Error");
        view.EnableJobButtons(true);
    } else {
        view.SetMessage("Read <TARGET> Card OK");
        view.Sleep(kCopyPauseMs);
        view.SetSwipeTitle("Write <TARGET> Card");
        view.SetSwipeColour(SwipeColour::kRed);
        view.SetSwipeLine1(kPleaseSwipe);
        view.ShowSwipe(true);
    }
    view.Repaint();
}

void JobMonitor::CopyWriteBranch(const CardReport& report) {
    JobView& view = context_.view;
    view.ShowSwipe(false);
    if (report.Refused() || report.FailedVerify()) {
        // The target is asked for again; the worker writes the same data.
        view.SetMessage(report.FailedVerify() ? NotVerified("Write <TARGET> Card", report)
                                              : "Write <TARGET> Card Error");
        view.Sleep(kCopyPauseMs);
        view.SetSwipeTitle("Write <TARGET> Card");
        view.SetSwipeColour(SwipeColour::kRed);
        view.SetSwipeLine1(kPleaseSwipe);
        view.ShowSwipe(true);
        return;
    }
    const bool verified = report.check == WriteCheck::kVerified;
    view.SetMessage(std::string("Write <TARGET> Card OK") + (verified ? kVerified : ""));
    view.MessageBox("Copy Card Write <TARGET> OK");
    view.SetSwipeTitle("Copy Card <Read Card>");
    view.SetSwipeColour(SwipeColour::kBlue);
    view.SetSwipeLine1(kPleaseSwipe);
    view.ShowSwipe(true);
    view.CentreSwipe();
}

void JobMonitor::CompareBranch(const CardReport& report) {
    JobView& view = context_.view;
    view.ShowTracks(report.card.Texts());
    if (report.stage == CompareStage::kTargetRead) {
        // A target matches when each track equals the source's or begins with it.
        bool same = true;
        for (int t = 0; t < 3; ++t) {
            if (!report.card.Text(t).starts_with(report.source.Text(t))) same = false;
        }
        view.SetMessage(same ? "Comparess Card OK!!" : "Comparess Card Error!!");
    }
    view.ShowSwipe(false);
    view.SetSwipeTitle("Compares Card <Read Target>");
    view.SetSwipeColour(SwipeColour::kDarkGreen);
    view.Sleep(kComparePauseMs);
    view.ShowSwipe(true);
    view.Repaint();
}

bool JobMonitor::StartJob(std::function<void(JobContext, std::stop_token)> worker) {
    JobContext context = context_;
    const bool started = runner_.Start(
        [context, worker = std::move(worker)](std::stop_token stop) { worker(context, stop); });
    if (!started) {
        context_.view.SetMessageLineDirectly("Create Thread fail!");
        context_.view.ShowSwipe(false);
    }
    return started;
}

void JobMonitor::StartWorker(std::function<void(JobContext, std::stop_token)> worker) {
    JobContext context = context_;
    if (!runner_.Start([context, worker = std::move(worker)](std::stop_token stop) {
            worker(context, stop);
        })) {
        context_.view.SetMessageLineDirectly("Create Thread fail!");
        context_.view.ShowSwipe(false);
    }
}

void JobMonitor::LaunchRead() {
    JobView& view = context_.view;
    // A worker left waiting by an earlier job stops before this job touches the shared record.
    StopPrevious();
    view.EnableJobButtons(false);
    view.SetSwipeTitle("Read Card");
    view.SetSwipeColour(SwipeColour::kBlue);
    context_.flags.swipeCount.store(1);
    view.SetSwipeLines(kPleaseSwipe, kSwipeCounter, "1");
    view.ShowSwipe(true);
    view.CentreSwipe();
    view.ShowTracks(kEmptyTracks);
    JobContext context = context_;
    if (!runner_.Start([context, files = files_](std::stop_token stop) {
            ReadWorker(context, stop, files);
        })) {
        view.SetMessageLineDirectly("Create Thread fail!");
        view.ShowSwipe(false);
    }
}

void JobMonitor::LaunchWrite() {
    JobView& view = context_.view;
    // What there is to write is known before anything changes: a launch that is refused leaves
    // a job that still runs (Erase between cards) as it is.
    TrackTexts texts = view.FetchTracks();
    const auto nothingToWrite = [&texts] {
        return texts[0].empty() && texts[1].empty() && texts[2].empty();
    };
    bool refused = nothingToWrite();
    // Marker texts such as "{NO DATA}" are not card data: those tracks are written empty.
    for (std::string& text : texts) {
        if (IsPlaceholder(text)) text.clear();
    }
    refused = refused || nothingToWrite();
    if (refused && runner_.Active()) {
        view.MessageBox("Please Input Data");
        return;
    }

    StopPrevious();
    view.EnableJobButtons(false);
    view.SetSwipeTitle("Write Card");
    view.SetSwipeColour(SwipeColour::kRed);
    context_.flags.swipeCount.store(1);
    view.SetSwipeLines(kPleaseSwipe, kSwipeCounter, "1");
    view.ShowSwipe(true);
    view.CentreSwipe();
    if (refused) {
        view.ShowSwipe(false);
        view.MessageBox("Please Input Data");
        view.EnableJobButtons(true);
        return;
    }

    view.Repaint();
    view.ShowTracks(texts);
    StartWorker(
        [texts](JobContext context, std::stop_token stop) { WriteWorker(context, stop, texts); });
}

void JobMonitor::LaunchCopy() {
    JobView& view = context_.view;
    StopPrevious();
    view.EnableJobButtons(false);
    view.ShowTracks(kEmptyTracks);
    view.SetSwipeTitle("Copy Card <Read Card>");
    view.SetSwipeColour(SwipeColour::kBlue);
    context_.flags.swipeCount.store(1);
    view.SetSwipeLines(kPleaseSwipe, "", "");
    view.ShowSwipe(true);
    view.CentreSwipe();
    StartWorker(&CopyWorker);
}

void JobMonitor::LaunchCompare() {
    JobView& view = context_.view;
    StopPrevious();
    view.EnableJobButtons(false);
    view.ShowTracks(kEmptyTracks);
    view.SetSwipeTitle("Compares Card <Read Source>");
    view.SetSwipeColour(SwipeColour::kBlue);
    context_.flags.swipeCount.store(1);
    view.SetSwipeLines(kPleaseSwipe, "", "");
    view.ShowSwipe(true);
    view.CentreSwipe();
    StartWorker(&CompareWorker);
}

void JobMonitor::CancelJob() {
    JobView& view = context_.view;
    StopJob(/*reset=*/true);
    // The density is sent again whatever the reader answers; no one looks at its status.
    static_cast<void>(
        context_.reader.SetTrack2Density(context_.format.Density() == Track2Density::k210));

    CardTracks card;
    card.SetTexts(view.FetchTracks());
    const TrackSet settings = context_.format.Settings();
    TrackTexts stripped;
    for (int t = 0; t < 3; ++t) {
        const auto i = static_cast<std::size_t>(t);
        stripped[i] = StripSentinels(card.Text(t), settings[i]);
    }
    view.ShowTracks(stripped);
    view.SetMessage("");
    view.EnableJobButtons(true);
    EndStoppedJob();
}

void JobMonitor::EndStoppedJob() {
    context_.flags.toFileActive.store(0, std::memory_order_release);
    if (files_.closeFiles) files_.closeFiles();
    context_.view.CloseSwipe();
}

void JobMonitor::StopWorker() {
    runner_.Stop();
}

void JobMonitor::StopForClose() {
    const bool running = runner_.Active();
    runner_.Stop();
    if (running) static_cast<void>(context_.reader.ResetReader());
}

}  // namespace tollwick
