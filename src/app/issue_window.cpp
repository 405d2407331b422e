#include "app/issue_window.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <fstream>
#include <future>

#include "app/file_dialog_seam.h"
#include "app/message_box_seam.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

constexpr int kPreviewRows = 5;
enum RecordColumn { kRowColumn, kStatusColumn, kCardColumn, kReaderColumn, kTimeColumn, kNote };

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "1 record", "3 records".
QString Counted(long long count, const char* what) {
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(what)).arg(count == 1 ? "" : "s");
}

}  // namespace

IssueWindow::IssueWindow(JobMonitor& monitor, ProfileStore& profile, MessageBoxSeam& messageBoxes,
                         FileDialogSeam& fileDialogs, QWidget* parent)
    : QWidget(parent, Qt::Window),
      monitor_(monitor),
      profile_(profile),
      messageBoxes_(messageBoxes),
      fileDialogs_(fileDialogs),
      job_(monitor, *this) {
    setWindowTitle(QStringLiteral("Issue cards"));
    auto* layout = new QVBoxLayout(this);

    // The data file and its first rows.
    auto* dataBox = new QGroupBox(QStringLiteral("Data file"), this);
    dataBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* dataLayout = new QVBoxLayout(dataBox);
    auto* dataRow = new QHBoxLayout;
    dataPath_ = new QLineEdit(dataBox);
    dataPath_->setPlaceholderText(QStringLiteral("A CSV file with a header row, or JSON lines"));
    openData_ = new QPushButton(QStringLiteral("&Open\u2026"), dataBox);
    dataRow->addWidget(dataPath_, 1);
    dataRow->addWidget(openData_);
    dataLayout->addLayout(dataRow);
    preview_ = new QTableWidget(0, 0, dataBox);
    preview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    preview_->verticalHeader()->setVisible(true);
    // As high as its header and the rows it shows, so that the records below get the room.
    preview_->setFixedHeight(preview_->horizontalHeader()->sizeHint().height() +
                             preview_->verticalHeader()->defaultSectionSize() * kPreviewRows +
                             2 * preview_->frameWidth());
    dataLayout->addWidget(preview_);
    layout->addWidget(dataBox);

    // The templates, the journal, verify and retries.
    auto* cardBox = new QGroupBox(QStringLiteral("Cards"), this);
    auto* form = new QFormLayout(cardBox);
    for (int t = 0; t < 3; ++t) {
        auto* row = new QHBoxLayout;
        auto* edit = new QLineEdit(cardBox);
        edit->setPlaceholderText(t == 0 ? QStringLiteral("e.g. B{luhn:pan}^{name}^{exp}")
                                        : QStringLiteral("not written when empty"));
        auto* insert = new QToolButton(cardBox);
        insert->setText(QStringLiteral("Insert column"));
        insert->setPopupMode(QToolButton::InstantPopup);
        insert->setMenu(new QMenu(insert));
        row->addWidget(edit, 1);
        row->addWidget(insert);
        templates_[static_cast<std::size_t>(t)] = edit;
        insert_[static_cast<std::size_t>(t)] = insert;
        form->addRow(QStringLiteral("Track %1:").arg(t + 1), row);
        FillInsertMenu(t);
    }
    auto* journalRow = new QHBoxLayout;
    journalPath_ = new QLineEdit(cardBox);
    journalPath_->setPlaceholderText(QStringLiteral("Made when missing; the same journal resumes"));
    chooseJournal_ = new QPushButton(QStringLiteral("C&hoose\u2026"), cardBox);
    journalRow->addWidget(journalPath_, 1);
    journalRow->addWidget(chooseJournal_);
    form->addRow(QStringLiteral("Journal:"), journalRow);
    auto* checkRow = new QHBoxLayout;
    verify_ = new QCheckBox(QStringLiteral("&Verify each card (swipe it again)"), cardBox);
    retries_ = new QSpinBox(cardBox);
    retries_->setRange(0, 100);
    retries_->setValue(2);
    checkRow->addWidget(verify_);
    checkRow->addStretch(1);
    checkRow->addWidget(new QLabel(QStringLiteral("Retries:"), cardBox));
    checkRow->addWidget(retries_);
    form->addRow(QString(), checkRow);
    layout->addWidget(cardBox);

    // The run.
    auto* buttons = new QHBoxLayout;
    check_ = new QPushButton(QStringLiteral("&Check"), this);
    start_ = new QPushButton(QStringLiteral("&Start"), this);
    pause_ = new QPushButton(QStringLiteral("&Pause"), this);
    stop_ = new QPushButton(QStringLiteral("S&top"), this);
    for (QPushButton* button : {check_, start_, pause_, stop_}) buttons->addWidget(button);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("%v of %m records"));
    layout->addWidget(progress_);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    records_ = new QTableWidget(0, 6, this);
    records_->setHorizontalHeaderLabels({QStringLiteral("Row"), QStringLiteral("Status"),
                                         QStringLiteral("Card"), QStringLiteral("Reader"),
                                         QStringLiteral("Time"), QStringLiteral("Note")});
    records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    records_->verticalHeader()->setVisible(false);
    records_->horizontalHeader()->setStretchLastSection(true);
    for (int c : {kRowColumn, kStatusColumn, kCardColumn, kReaderColumn, kTimeColumn}) {
        records_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    }
    layout->addWidget(records_, 1);

    connect(openData_, &QPushButton::clicked, this, &IssueWindow::ChooseData);
    connect(dataPath_, &QLineEdit::editingFinished, this, [this] {
        if (!dataPath_->text().isEmpty()) OpenData(dataPath_->text());
    });
    connect(chooseJournal_, &QPushButton::clicked, this, &IssueWindow::ChooseJournal);
    connect(check_, &QPushButton::clicked, this, &IssueWindow::Check);
    connect(start_, &QPushButton::clicked, this, &IssueWindow::Start);
    connect(pause_, &QPushButton::clicked, this, [this] { SetPaused(!job_.Paused()); });
    connect(stop_, &QPushButton::clicked, this, &IssueWindow::Stop);
    SetRunning(false);
    resize(760, 640);
}

IssueWindow::~IssueWindow() {
    if (job_.Running()) job_.Stop();
}

void IssueWindow::FillInsertMenu(int track) {
    QToolButton* button = insert_[static_cast<std::size_t>(track)];
    QLineEdit* edit = templates_[static_cast<std::size_t>(track)];
    QMenu* menu = button->menu();
    menu->clear();
    const auto add = [edit](QMenu* into, const QString& label, const QString& field) {
        into->addAction(label, edit, [edit, field] { edit->insert(field); });
    };
    add(menu, QStringLiteral("{row}  the record's number"), QStringLiteral("{row}"));
    QMenu* luhn = columns_.empty() ? nullptr : menu->addMenu(QStringLiteral("With Luhn digit"));
    for (const std::string& column : columns_) {
        add(menu, Q(column), QStringLiteral("{%1}").arg(Q(column)));
        add(luhn, Q(column), QStringLiteral("{luhn:%1}").arg(Q(column)));
    }
    button->setEnabled(true);
}

void IssueWindow::ChooseData() {
    const auto path = fileDialogs_.ChooseCardFile(this, FileDialogSeam::Purpose::kIssueData);
    if (path) OpenData(*path);
}

void IssueWindow::ChooseJournal() {
    const auto path = fileDialogs_.ChooseCardFile(this, FileDialogSeam::Purpose::kIssueJournal);
    if (path) journalPath_->setText(*path);
}

bool IssueWindow::OpenData(const QString& path) {
    dataPath_->setText(path);
    std::ifstream in(std::filesystem::path(path.toStdString()), std::ios::binary);
    std::string error = "cannot be opened";
    auto reader = in ? OpenRecordReader(in, error) : nullptr;
    preview_->clear();
    preview_->setRowCount(0);
    preview_->setColumnCount(0);
    columns_.clear();
    if (!reader) {
        status_->setText(QStringLiteral("%1: %2").arg(path, Q(error)));
        for (int t = 0; t < 3; ++t) FillInsertMenu(t);
        return false;
    }
    columns_ = reader->Columns();
    preview_->setColumnCount(static_cast<int>(columns_.size()));
    QStringList headers;
    for (const std::string& column : columns_) headers << Q(column);
    preview_->setHorizontalHeaderLabels(headers);
    DataRecord record;
    QStringList rowNames;
    for (int n = 0; n < kPreviewRows;) {
        const RecordStatus status = reader->Next(record, error);
        if (status == RecordStatus::kEnd || status == RecordStatus::kBadFile) break;
        if (status != RecordStatus::kRecord) continue;
        preview_->insertRow(n);
        rowNames << QString::number(record.row);
        for (std::size_t c = 0; c < record.values.size(); ++c) {
            preview_->setItem(n, static_cast<int>(c),
                              new QTableWidgetItem(Q(record.values[c].value_or(""))));
        }
        ++n;
    }
    preview_->setVerticalHeaderLabels(rowNames);
    preview_->resizeColumnsToContents();
    for (int t = 0; t < 3; ++t) FillInsertMenu(t);
    if (journalPath_->text().isEmpty()) journalPath_->setText(path + QStringLiteral(".journal"));
    status_->setText(QStringLiteral("Columns: %1").arg(headers.join(QStringLiteral(", "))));
    return true;
}

std::unique_ptr<IssueSetup> IssueWindow::Prepare(bool dryRun) {
    IssueRequest request;
    request.data = dataPath_->text().toStdString();
    request.dataName = QFileInfo(dataPath_->text()).fileName().toStdString();
    for (std::size_t t = 0; t < 3; ++t) request.templates[t] = templates_[t]->text().toStdString();
    request.journal = journalPath_->text().toStdString();
    const TrackFormat format = monitor_.Context().format.Get();
    request.type = format.type;
    request.layout =
        LayoutFor(format.type, format.density, format.settings, ReadUserKeys(profile_));
    request.layout.settings = format.settings;  // the formats in force, as the card jobs use them
    request.verify = verify_->isChecked();
    request.retries = retries_->value();
    request.dryRun = dryRun;
    if (dataPath_->text().isEmpty() || journalPath_->text().isEmpty()) {
        status_->setText(QStringLiteral("Choose the data file and the journal first."));
        return nullptr;
    }

    records_->setRowCount(0);
    lines_.clear();
    long long problems = 0;
    IssueSetup::Failure failure = IssueSetup::Failure::kNone;
    std::string error;
    auto setup = IssueSetup::Prepare(
        request, [](long long, const RowPlan&, const TrackTexts*) {},
        [&](long long row, const std::string& why) {
            // Only the first problems go into the table; the count says how many there are.
            if (++problems <= 200) {
                AddRecordLine(row, QStringLiteral("cannot be written"), {}, {}, {}, Q(why));
            }
        },
        failure, error);
    if (!setup) {
        status_->setText(Q(error));
        return nullptr;
    }
    const RecordCheck& check = setup->Check();
    status_->setText(QStringLiteral("%1 records to write, %2 done before, %3 uncertain, %4 failed "
                                    "on every try.")
                         .arg(check.toWrite)
                         .arg(check.done)
                         .arg(check.toDecide)
                         .arg(check.gaveUp));
    return setup;
}

bool IssueWindow::Check() {
    return Prepare(/*dryRun=*/true) != nullptr;
}

bool IssueWindow::Start() {
    if (job_.Running()) return false;
    auto setup = Prepare(/*dryRun=*/false);
    if (!setup) return false;
    std::string error;
    if (!setup->StartJournal(error)) {
        status_->setText(Q(error));
        return false;
    }
    toDo_ = setup->Check().toWrite + setup->Check().toDecide;
    done_ = 0;
    cards_ = 0;
    started_ = std::chrono::steady_clock::now();
    progress_->setRange(0, static_cast<int>(std::max<long long>(toDo_, 1)));
    progress_->setValue(0);
    if (!job_.Launch(std::move(setup))) {
        status_->setText(QStringLiteral("The run could not be started."));
        return false;
    }
    SetRunning(true);
    UpdateProgress();
    return true;
}

void IssueWindow::SetPaused(bool paused) {
    job_.Pause(paused);
    pause_->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    if (paused) status_->setText(QStringLiteral("Paused: the run holds before the next record."));
}

void IssueWindow::Stop() {
    if (job_.Running()) job_.Stop();
}

void IssueWindow::SetRunning(bool running) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{dataPath_, openData_, journalPath_, chooseJournal_,
                                         verify_, retries_, check_, start_}) {
        w->setEnabled(!running);
    }
    for (QLineEdit* edit : templates_) edit->setEnabled(!running);
    for (QToolButton* insert : insert_) insert->setEnabled(!running);
    pause_->setEnabled(running);
    stop_->setEnabled(running);
    pause_->setText(QStringLiteral("&Pause"));
}

int IssueWindow::AddRecordLine(long long row, const QString& status, const QString& card,
                               const QString& reader, const QString& time, const QString& note,
                               int line) {
    if (line < 0) {
        line = records_->rowCount();
        records_->insertRow(line);
    }
    const QString cells[] = {QString::number(row), status, card, reader, time, note};
    for (int c = 0; c < 6; ++c) records_->setItem(line, c, new QTableWidgetItem(cells[c]));
    records_->scrollToBottom();
    return line;
}

void IssueWindow::ShowAttempt(const Attempt& attempt) {
    // One line per card: a card written and then read back keeps its line.
    const auto known = lines_.find(attempt.id);
    if (known == lines_.end()) ++cards_;
    if (attempt.status == AttemptStatus::kVerified ||
        (attempt.status == AttemptStatus::kWritten && !verify_->isChecked())) {
        ++done_;
    }
    lines_[attempt.id] =
        AddRecordLine(attempt.row, Q(std::string(AttemptStatusName(attempt.status))),
                      QString::number(attempt.card), Q(attempt.reader), Q(attempt.time),
                      Q(attempt.note), known == lines_.end() ? -1 : known->second);
    UpdateProgress();
}

void IssueWindow::UpdateProgress() {
    progress_->setValue(static_cast<int>(std::min(done_, toDo_)));
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count() / 60;
    QString line = QStringLiteral("%1 of %2 records").arg(done_).arg(toDo_);
    if (cards_ > 0 && minutes > 0) {
        line += QStringLiteral(", %1 cards per minute").arg(std::lround(cards_ / minutes));
        if (done_ > 0 && done_ < toDo_) {
            const double left =
                minutes / static_cast<double>(done_) * static_cast<double>(toDo_ - done_);
            line += left < 1 ? QStringLiteral(", about %1 s left").arg(std::ceil(left * 60))
                             : QStringLiteral(", about %1 min left").arg(std::ceil(left));
        }
    }
    status_->setText(line + QStringLiteral("."));
}

void IssueWindow::ShowEnd(const IssueTally& tally) {
    SetRunning(false);
    QString end;
    if (!tally.problem.empty()) {
        end = QStringLiteral("The run stopped: %1.").arg(Q(tally.problem));
    } else if (!tally.uncertain.empty()) {
        end = QStringLiteral(
                  "The run stopped; row %1 is uncertain: its card got the write block "
                  "and no status came. Start again to check that card.")
                  .arg(tally.uncertain.front());
    } else if (tally.stopped) {
        end =
            QStringLiteral("The run stopped: %1.").arg(Q(std::string(StatusText(*tally.stopped))));
    } else {
        end = QStringLiteral("Done: %1 written, %2 done before, %3 set aside.")
                  .arg(Counted(tally.written, "record"))
                  .arg(tally.alreadyDone)
                  .arg(Counted(tally.failedCards, "card"));
        if (tally.gaveUp) {
            end += QStringLiteral(" %1 failed on every card allowed.")
                       .arg(Counted(tally.gaveUp, "record"));
        }
    }
    status_->setText(end);
    emit RunEnded();
}

// --- From the job's worker ---

void IssueWindow::Attempted(const Attempt& attempt) {
    QMetaObject::invokeMethod(
        this, [this, attempt] { ShowAttempt(attempt); }, Qt::QueuedConnection);
}

void IssueWindow::Skipped(long long row, const std::string& why) {
    QMetaObject::invokeMethod(
        this,
        [this, row, why] { AddRecordLine(row, QStringLiteral("skipped"), {}, {}, {}, Q(why)); },
        Qt::QueuedConnection);
}

QString IssueWindow::UncertainQuestion(const Attempt& attempt) {
    const QString what = attempt.status == AttemptStatus::kUncertain
                             ? QStringLiteral("its write block went out and no status came")
                             : QStringLiteral("it was written and never read back");
    return QStringLiteral(
               "Row %1 may or may not be on card %2 (%3): %4.\n\nSwipe that card when "
               "the swipe window asks for it: if it holds the record, the record is "
               "done; if not, set the card aside and the record is written again.")
        .arg(attempt.row)
        .arg(attempt.card)
        .arg(Q(attempt.reader), what);
}

bool IssueWindow::CheckUncertain(const Attempt& attempt, std::stop_token stop) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> asked = answer->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, attempt, answer] {
            answer->set_value(messageBoxes_.Ask(this, UncertainQuestion(attempt),
                                                QStringLiteral("Check the card"),
                                                QStringLiteral("Stop")));
        },
        Qt::QueuedConnection);
    // The worker waits for the answer, never the window's thread: a stop ends the wait.
    while (asked.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (stop.stop_requested()) return false;
    }
    return asked.get();
}

void IssueWindow::Ended(const IssueTally& tally) {
    QMetaObject::invokeMethod(
        this, [this, tally] { ShowEnd(tally); }, Qt::QueuedConnection);
}

}  // namespace tollwick
