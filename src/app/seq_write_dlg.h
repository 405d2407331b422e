// The Sequential Write dialog: starting number, number of cards, step, and the track that
// carries the number. OK starts the run, Cancel (or the close box) gives up.
#pragma once

#include <QString>

#include "app/aux_dialogs.h"

class QButtonGroup;
class QLineEdit;

namespace tollwick {

class CSeqWriteDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 132;
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;
    static constexpr int kTrack1 = 1003;
    static constexpr int kTrack2 = 1004;
    static constexpr int kStart = 1005;
    static constexpr int kTotal = 1006;
    static constexpr int kStep = 1007;
    static constexpr int kTrack3 = 1015;

    CSeqWriteDlg();

    // Data exchange: from the controls into the members (true) or back (false).
    void UpdateData(bool fromControls);
    const QString& StartText() const { return start_; }
    const QString& TotalText() const { return total_; }
    const QString& StepText() const { return step_; }
    int TrackIndex() const { return track_; }

    // Shows the dialog in the middle of the screen.
    void ShowCentred();

  signals:
    void OkRequested();
    void CancelRequested();

  public slots:
    // OK asks for the run; the dialog closes once it has started.
    void accept() override;
    // Cancel and the close box.
    void reject() override;

  private:
    QLineEdit* startEdit_ = nullptr;
    QLineEdit* totalEdit_ = nullptr;
    QLineEdit* stepEdit_ = nullptr;
    QButtonGroup* tracks_ = nullptr;
    QString start_ = QStringLiteral("0000");
    QString total_ = QStringLiteral("10");
    QString step_ = QStringLiteral("1");
    int track_ = 0;
};

}  // namespace tollwick
