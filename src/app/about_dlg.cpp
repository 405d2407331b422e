#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_layout.h"
#include "tollwick_version.h"

namespace tollwick {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialog_%1").arg(kResourceId));
    setWindowTitle(QStringLiteral("K47"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    layout_ = std::make_unique<DialogLayout>(this, TemplateFont(), 235, 55);
    DialogLayout& l = *layout_;

    auto* icon = l.Static(kNoId, QString(), 11, 17, 20, 20, QStringLiteral("Tollwick"));
    icon->setPixmap(AppIconPixmap(32));
    icon->setFixedSize(32, 32);
    l.Static(kNoId, QStringLiteral("K47 1.0 6"), 40, 10, 119, 8, QStringLiteral("K47 1.0 6"));
    const QString second =
        QStringLiteral("Tollwick %1 磁卡读写 VK3300S").arg(QString::fromLatin1(kTollwickVersion));
    l.Static(kNoId, second, 40, 25, 130, 12, second);
    QPushButton* enter = l.PushButton(1, QStringLiteral("ENTER"), 178, 7, 50, 16);
    enter->setDefault(true);
    connect(enter, &QPushButton::clicked, this, &QDialog::accept);
    l.FinishTabOrder();
}

CAboutDlg::~CAboutDlg() = default;

QWidget* CAboutDlg::Control(int id) const {
    return layout_->Control(id);
}

}  // namespace tollwick
