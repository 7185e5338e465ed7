#pragma once

#include "controls/MainPanelControls.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QDialog;
class QMainWindow;

namespace Ui {
class MainPanel;
class CommPropertiesPanel;
class DebugPW;
} // namespace Ui

// The window: the main form and the two dialogs built from their .ui files and bound to the
// panel model. The model must outlive the view.
class MainWindowView : public QObject {
public:
    MainWindowView(MainPanelControls& main, CommPropertiesControls& comm, DebugPWControls& debug);
    ~MainWindowView() override;

    QMainWindow* window() const { return window_.get(); }
    // The dialog of a dialog form control (CommPropertiesPanel, DebugPW), else null.
    QDialog* dialogOf(const Control& form) const;

    // Runs the dialog of the form modally until the operator closes it or the model hides it.
    // activate runs once the form shows, as a form's activation handler does; a form it hides
    // does not run.
    void showModal(Control& form, const std::function<void()>& activate = {});

    // Saves a picture of the main window, or of the form's dialog, as PNG.
    bool grabTo(const QString& pngPath) const;
    bool grabTo(const QString& pngPath, const Control& form) const;

    // Called when the main window closes, before it goes.
    std::function<void()> onClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Control& mainForm_;
    Control& commForm_;
    Control& debugForm_;
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainPanel> mainUi_;
    std::unique_ptr<Ui::CommPropertiesPanel> commUi_;
    std::unique_ptr<Ui::DebugPW> debugUi_;
    QDialog* commDialog_ = nullptr;
    QDialog* debugDialog_ = nullptr;
};
