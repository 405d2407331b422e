// The swipe window that every card job shows while it waits for cards: the job's name as title,
// a solid fill colour and three white, centred text lines over it, and Cancel.
#pragma once

#include <QColor>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <memory>

namespace tollwick {

class DialogLayout;

// A read-only text line that paints only its text: white, centred on one line, over whatever
// lies beneath it.
class CPromptEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit CPromptEdit(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class CSwipeDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 130;
    static constexpr int kFirstLine = 1005;
    static constexpr int kSecondLine = 1006;
    static constexpr int kCountLine = 1007;

    // Reading blue, writing and erasing red, Compare targets dark green.
    static constexpr QColor kReadColour{0, 0, 255};
    static constexpr QColor kWriteColour{255, 0, 0};
    static constexpr QColor kCompareTargetColour{0, 100, 0};

    // `owner` is the main window: the swipe window stays in front of it.
    explicit CSwipeDlg(QWidget* owner);
    ~CSwipeDlg() override;

    void SetTitle(const QString& title) { setWindowTitle(title); }
    // Stores the colour and repaints the whole window in it.
    void SetFillColour(const QColor& colour);
    QColor FillColour() const { return fill_; }
    void SetLine(int id, const QString& text);
    void SetLines(const QString& first, const QString& second, const QString& count);
    QString Line(int id) const;
    void CentreOnScreen();

    QWidget* Control(int id) const;

  signals:
    // Cancel or the close box: the running job is to be cancelled.
    void CancelRequested();

  public slots:
    void reject() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<DialogLayout> layout_;
    QColor fill_{kReadColour};
    QPointer<QWidget> owner_;
};

}  // namespace tollwick
