#include "app/RunProgress.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include "app/CutText.h"
#include "core/Reload.h"

TRunProgress::TRunProgress(QAction* stop, QWidget* parent) : QWidget(parent) {
    setObjectName("RunProgress");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    // A branch's size is known only once it has been walked: the bar says "busy".
    Bar = new QProgressBar(this);
    Bar->setObjectName("RunProgressBar");
    Bar->setRange(0, 0);
    Bar->setTextVisible(false);
    Bar->setFixedWidth(90);
    Bar->setMaximumHeight(14);
    Text = new TElidedLabel(this);
    Text->setObjectName("RunProgressText");
    Text->setMinimumWidth(120);
    StopButton = new QToolButton(this);
    StopButton->setObjectName("RunStopButton");
    StopButton->setDefaultAction(stop);
    StopButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    StopButton->setAutoRaise(true);
    layout->addWidget(Bar);
    layout->addWidget(Text, 1);
    layout->addWidget(StopButton);
    hide();
}

void TRunProgress::Begin() {
    if (depth_++ == 0) {
        Text->setText("Starting...");
        shown_.invalidate();
    }
    show();
}

bool TRunProgress::Show(const TReloadProgress& progress) {
    constexpr qint64 kEveryMs = 100;
    if (shown_.isValid() && shown_.elapsed() < kEveryMs) return false;
    shown_.start();
    QString text = QString("%1 documents done").arg(progress.Documents);
    // Addresses are ASCII (the readers store them percent-encoded).
    if (!progress.CurrentUrl.empty()) text += ": " + QString::fromStdString(progress.CurrentUrl);
    Text->setText(text);
    Text->setToolTip(text);
    return true;
}

void TRunProgress::End() {
    if (depth_ > 0 && --depth_ == 0) {
        hide();
        Text->clear();
    }
}
