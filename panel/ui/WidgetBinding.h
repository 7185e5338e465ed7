#pragma once

#include "controls/Control.h"

#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

// Binds every widget, action and menu of a form to the model control of the same objectName,
// by widget type; the form's root binds to the control named like the form (title, height).
// The model redraws the widgets through watch(); operator actions reach the controls.
// The controls must outlive the widgets. Returns the names no widget was found for.
QStringList bindControls(QWidget* root, const std::vector<Control*>& controls);

// Console texts end their lines with CR LF, as the board and the send path expect; a text view
// breaks lines on LF. A lone CR or LF from the board also starts a new line on screen.
QString consoleToView(const QString& text);
QString viewToConsole(const QString& text);

// Window heights are given in twips; 15 twips make one pixel at 96 dpi.
constexpr int TwipsPerPixel = 15;
// The main form's design height: a taller one uncovers the debug fields below it.
constexpr int DesignHeightTwips = 7000;
