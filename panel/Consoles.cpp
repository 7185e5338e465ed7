#include "panel/Consoles.h"

#include "engine/RuntimeError.h"

Consoles::Consoles(Session& session)
    : s_(session) {
    auto& ui = s_.ui;
    ui.btnTransmitWnd.onClick = [this] { btnTransmitWnd_Click(); };
    ui.txtSendView.onKeyPress = [this](int code) { txtSendView_KeyPress(code); };
    ui.btnSendBlock.onClick = [this] { btnSendBlock_Click(); };
    for (int i = 0; i < 2; ++i) {
        ui.btnClr[i].onClick = [this, i] { btnClr_Click(i); };
        ui.rbRecvMode[i].onClick = [this, i] { rbRecvMode_Click(i); };
        ui.rbTransmitMode[i].onClick = [this, i] { rbTransmitMode_Click(i); };
    }
}

// While an operation runs the port carries its commands and data: the terminal waits.
void Consoles::btnTransmitWnd_Click() {
    if (s_.busy())
        return;
    try {
        QByteArray bytes = s_.ui.txtSendView.text().toLatin1();
        bytes.append('\0');
        s_.port.write(bytes);
        s_.ui.txtSendView.setText("");
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description(), "Lintrek WARNING", Prompter::Icon::None);
    }
}

void Consoles::txtSendView_KeyPress(int code) {
    if (!s_.ui.rbTransmitMode[0].checked() || s_.busy())
        return;
    s_.scrollRequest = true;
    try {
        s_.port.write(QByteArray(1, char(code & 0xFF)));
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description(), "Lintrek WARNING", Prompter::Icon::None);
    }
}

void Consoles::btnSendBlock_Click() {
    if (s_.busy())
        return;
    QByteArray table(256, '\0');
    for (int i = 0; i < 256; ++i)
        table[i] = char(i);
    try {
        s_.port.write(table);
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description(), "Lintrek WARNING", Prompter::Icon::None);
    }
}

void Consoles::btnClr_Click(int index) {
    (index == 1 ? s_.ui.txtRecvView : s_.ui.txtSendView).setText("");
}

void Consoles::rbRecvMode_Click(int index) {
    s_.ui.rbRecvMode[index].setChecked(true);
    s_.ui.rbRecvMode[1 - index].setChecked(false);
    s_.displayMode.SetState(std::int16_t(index));
}

void Consoles::rbTransmitMode_Click(int index) {
    s_.ui.rbTransmitMode[index].setChecked(true);
    s_.ui.rbTransmitMode[1 - index].setChecked(false);
}
