// A From File batch on the virtual reader, hands-free: the real window offscreen writes N cards
// from a card file while the reader swipes the next blank card whenever it is armed. Checks that
// every card carries its record and reports the time per card beyond the reader's own pause
// (the auto-swipe pause, at least the 80 ms within which the program listens for a refusal).
//
//   tollwick_batch_bench [cards=1000] [auto-swipe pause ms=0]
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/desktop_session.h"
#include "app/file_dialog_seam.h"
#include "app/message_box_seam.h"
#include "carddata/track_codec.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "settings/profile_store.h"

namespace {

using namespace tollwick;
using SteadyClock = std::chrono::steady_clock;

class CountedBoxes final : public MessageBoxSeam {
  public:
    std::vector<QString> shown;
    void Inform(QWidget*, const QString& text) override { shown.push_back(text); }
};

class FixedFile final : public FileDialogSeam {
  public:
    explicit FixedFile(QString path) : path_(std::move(path)) {}
    std::optional<QString> ChooseCardFile(QWidget*, Purpose) override { return path_; }

  private:
    QString path_;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TrackTexts CardTexts(const VirtualCard& virtualCard) {
    CardTracks card;
    for (int t = 0; t < 3; ++t) {
        const auto& bits = virtualCard.tracks[static_cast<std::size_t>(t)];
        std::copy_n(bits.begin(), std::min<std::size_t>(bits.size(), kTrackBufferSize - 1),
                    card.track[t].begin());
    }
    DecodeTracks(card, kIsoTrackSet);
    return {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))};
}

TrackTexts Record(int i) {
    const std::string n = std::to_string(100000 + i).substr(1);
    return {"B40000000" + n + "^BENCH/CARD^2912101", "40000000" + n + "=2912", n};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int cards = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int pauseMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    const int readerPauseMs = std::max(pauseMs, 80);  // a write is never swiped sooner

    QTemporaryDir dir;
    const QString path = dir.filePath("batch.txt");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        for (int i = 0; i < cards; ++i) {
            const auto texts = Record(i);
            file.write(QByteArray("2026-1-5  9:3:7\r\n%") + texts[0].c_str() + "?\r\n;" +
                       texts[1].c_str() + "?\r\n+" + texts[2].c_str() + "?\r\n\r\n\r\n");
        }
    }
    ProfileStore profile(dir.filePath("Tollwick.ini").toStdString());
    CountedBoxes boxes;
    Deck deck;
    deck.cards.resize(static_cast<std::size_t>(cards));
    VirtualReader reader(VirtualReader::Options{}, deck);
    DesktopSession session(std::make_unique<VirtualBackend>(reader), profile, boxes);
    FixedFile chooser(path);
    session.CardJobs().SetFileDialogs(chooser);
    session.Start();
    // The program's own event loop runs; the harness looks every 5 ms without spinning.
    const auto pump = [](auto condition, std::chrono::milliseconds limit) {
        const auto until = SteadyClock::now() + limit;
        while (!condition()) {
            if (SteadyClock::now() > until) return false;
            QEventLoop wait;
            QTimer::singleShot(5, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return true;
    };
    if (!pump([&] { return session.Window().isEnabled(); }, std::chrono::seconds(5))) return 1;

    reader.SetAutoSwipe(0, std::chrono::milliseconds(pauseMs), /*advance=*/true);
    const double cpu0 = CpuSeconds();
    const auto start = SteadyClock::now();
    session.CardJobs().OnFromFile();
    const bool ended =
        pump([&] { return !boxes.shown.empty() && boxes.shown.back() == "End of File!!!"; },
             std::chrono::milliseconds(cards * (readerPauseMs + 1000)));
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    session.Stop();
    if (!ended) {
        std::fprintf(stderr, "the batch did not reach the end of the file\n");
        return 1;
    }

    int good = 0;
    for (int i = 0; i < cards; ++i) {
        const auto texts = CardTexts(*reader.Card(static_cast<std::size_t>(i)));
        const auto want = Record(i);
        if (texts[0] == "%" + want[0] + "?" && texts[1] == ";" + want[1] + "?" &&
            texts[2] == ";" + want[2] + "?")
            ++good;
    }
    const double perCard = wall * 1000 / cards;
    std::printf("From File, %d cards, auto-swipe pause %d ms (reader swipes %d ms after arming)\n",
                cards, pauseMs, readerPauseMs);
    std::printf("  cards written correctly   %d of %d; message boxes %zu\n", good, cards,
                boxes.shown.size());
    std::printf("  wall                      %.1f s, %.1f ms per card\n", wall, perCard);
    std::printf("  beyond the reader's pause %.1f ms per card\n", perCard - readerPauseMs);
    std::printf("  CPU, whole program        %.2f ms per card\n", cpu * 1000 / cards);
    return good == cards && boxes.shown.size() == 1 ? 0 : 1;
}
