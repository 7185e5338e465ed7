#include "panel/Inputs.h"

#include "engine/Conversions.h"
#include "engine/RuntimeError.h"
#include "panel/Layout.h"
#include "panel/PanelRules.h"

Inputs::Inputs(Session& session, Layout& layout)
    : s_(session)
    , layout_(layout) {
    auto& ui = s_.ui;
    ui.cbFlash.onClick = [this] { cbFlash_Click(); };
    ui.cbFlash.onChange = [this] { cbFlash_Change(); };
    ui.txtSpiFile.onChange = [this] { txtSpiFile_Change(); };
    ui.txtPrgBytes.onChange = [this] { txtPrgBytes_Change(); };
    ui.txtOffset.onChange = [this] { txtOffset_Change(); };
    ui.txtBitFile.onChange = [this] { txtBitFile_Change(); };
    ui.txtBpiFile.onChange = [this] { txtBpiFile_Change(); };
    ui.txtTimeout.onChange = [this] { txtTimeout_Change(); };
    ui.txtTimeoutLimit.onChange = [this] { txtTimeoutLimit_Change(); };
}

// While an operation runs its buttons stay off: the end of the operation applies the rules.
void Inputs::applyButtonRules() {
    if (s_.busy())
        return;
    rules::applySpiButtonRule(s_.ui);
    rules::applyBpiButtonRule(s_.ui, s_.BpiServerRunning);
}

void Inputs::cbFlash_Click() {
    if (!s_.busy())
        rules::applySpiButtonRule(s_.ui);
    layout_.ArrangePanel();
}

void Inputs::cbFlash_Change() {
    // Typing selects the first entry; with no entry there is nothing to select.
    if (!s_.ui.cbFlash.items().isEmpty())
        s_.ui.cbFlash.setSelectedIndex(0);
    layout_.ArrangePanel();
}

void Inputs::offerFlashDevice(const QString& name, bool askFirst) {
    const int at = int(s_.ui.cbFlash.items().indexOf(name));
    if (at < 0 || s_.windowClosed || at == s_.ui.cbFlash.selectedIndex())
        return;
    if (askFirst && s_.prompter.ask("The flash answers as " + name + ". Select " + name +
                                        " for the next operations?",
                                    "ID Check", Prompter::Icon::Question,
                                    Prompter::Buttons::YesNo) != Prompter::Answer::Yes)
        return;
    s_.ui.cbFlash.setSelectedIndex(at);
}

void Inputs::txtSpiFile_Change() {
    if (!s_.busy())
        rules::applySpiButtonRule(s_.ui);
    layout_.ArrangePanel();
}

void Inputs::txtPrgBytes_Change() {
    auto& field = s_.ui.txtPrgBytes;
    if (field.text().isEmpty()) {
        field.setText("0");
        return;
    }
    if (!conv::isNumeric(field.text())) {
        field.setText("0");
        return;
    }
    applyButtonRules();
}

bool Inputs::isHexText(const QString& text) {
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

void Inputs::txtOffset_Change() {
    auto& field = s_.ui.txtOffset;
    if (field.text().isEmpty())
        s_.ui.txtPrgBytes.setText("0");
    if (!isHexText(field.text()))
        field.setText("0");
}

void Inputs::txtBitFile_Change() {
    if (!s_.busy())
        s_.ui.btnCfgFPGA.setEnabled(rules::IsFpgaReady(s_.ui));
    layout_.ArrangePanel();
}

void Inputs::txtBpiFile_Change() {
    if (!s_.busy())
        rules::applyBpiButtonRule(s_.ui, s_.BpiServerRunning);
    layout_.ArrangePanel();
}

void Inputs::txtTimeout_Change() {
    const QString text = s_.ui.txtTimeout.text();
    try {
        const std::int16_t ms = conv::toInt16(text);
        if (ms < 1)
            throw RuntimeError(RuntimeError::Overflow, "Overflow");
        s_.ackIntervalMs = ms;
        s_.timer.setInterval(ms);
    } catch (const RuntimeError&) {
        // An interval the timer cannot run on would stop every operation for good.
        if (!text.isEmpty())
            s_.prompter.tell(QString("The timer interval must be a whole number of milliseconds "
                                     "from 1 to 32767; it stays %1.")
                                 .arg(s_.ackIntervalMs),
                             "Warning", Prompter::Icon::Information);
    }
}

void Inputs::txtTimeoutLimit_Change() {
    const QString text = s_.ui.txtTimeoutLimit.text();
    try {
        const std::int16_t limit = conv::toInt16(text);
        if (limit < 0 || limit == INT16_MAX)
            throw RuntimeError(RuntimeError::Overflow, "Overflow");
        s_.timeoutLimit = limit;
    } catch (const RuntimeError&) {
        // At the top of the range the counter could never exceed the limit.
        if (!text.isEmpty())
            s_.prompter.tell(QString("The time-out limit must be a whole number of ticks from 0 "
                                     "to 32766; it stays %1.")
                                 .arg(s_.timeoutLimit),
                             "Warning", Prompter::Icon::Information);
    }
}
