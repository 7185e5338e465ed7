#include "panel/ui/MainWindowView.h"

#include "panel/ui/Pictures.h"
#include "panel/ui/WidgetBinding.h"
#include "ui_CommPropertiesPanel.h"
#include "ui_DebugPW.h"
#include "ui_MainPanel.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QLayout>
#include <QMainWindow>
#include <QShortcut>

namespace {

bool grabWidget(QWidget* w, const QString& pngPath) {
    w->ensurePolished();
    if (w->layout())
        w->layout()->activate();
    const QPixmap shot = w->grab();
    return !shot.isNull() && shot.save(pngPath, "PNG");
}

} // namespace

MainWindowView::MainWindowView(MainPanelControls& main, CommPropertiesControls& comm,
                               DebugPWControls& debug)
    : mainForm_(main.MainPanel)
    , commForm_(comm.CommPropertiesPanel)
    , debugForm_(debug.DebugPW)
    , window_(std::make_unique<QMainWindow>())
    , mainUi_(std::make_unique<Ui::MainPanel>())
    , commUi_(std::make_unique<Ui::CommPropertiesPanel>())
    , debugUi_(std::make_unique<Ui::DebugPW>()) {
    mainUi_->setupUi(window_.get());
    // Fixed pitch wherever the forms' font family is missing.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(9);
    mainUi_->txtSendView->setFont(mono);
    mainUi_->txtRecvView->setFont(mono);
    const qreal dpr = window_->devicePixelRatioF();
    mainUi_->Image1->setPixmap(paintLogo(mainUi_->Image1->size(), dpr));
    mainUi_->Image1->setToolTip({});
    window_->installEventFilter(this);

    commDialog_ = new QDialog(window_.get());
    commUi_->setupUi(commDialog_);
    commUi_->picPort->setPixmap(paintSerialPort(commUi_->picPort->size(), dpr));
    debugDialog_ = new QDialog(window_.get());
    debugUi_->setupUi(debugDialog_);
    for (QDialog* d : {commDialog_, debugDialog_})
        d->setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    bindControls(window_.get(), main.all());
    // Esc goes to the form, whose model decides what it stops. Not Stop's own shortcut:
    // setting its caption would clear that.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    Control& form = main.MainPanel;
    connect(esc, &QShortcut::activated, this, [&form] { form.keyPress(27); });
    bindControls(commDialog_, comm.all());
    bindControls(debugDialog_, debug.all());
}

MainWindowView::~MainWindowView() {
    window_->removeEventFilter(this);
}

QDialog* MainWindowView::dialogOf(const Control& form) const {
    if (&form == &commForm_)
        return commDialog_;
    if (&form == &debugForm_)
        return debugDialog_;
    return nullptr;
}

void MainWindowView::showModal(Control& form, const std::function<void()>& activate) {
    QDialog* d = dialogOf(form);
    if (!d)
        return;
    d->setWindowModality(Qt::ApplicationModal);
    form.setVisible(true);
    if (activate)
        activate();
    if (!form.visible())
        return;
    d->exec();
    // Closed by the operator (close box or Escape) rather than by the model.
    if (form.visible())
        form.setVisible(false);
}

bool MainWindowView::grabTo(const QString& pngPath) const {
    return grabWidget(window_.get(), pngPath);
}

bool MainWindowView::grabTo(const QString& pngPath, const Control& form) const {
    if (&form == &mainForm_)
        return grabTo(pngPath);
    QDialog* d = dialogOf(form);
    return d && grabWidget(d, pngPath);
}

bool MainWindowView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close && onClose)
        onClose();
    return QObject::eventFilter(watched, event);
}
