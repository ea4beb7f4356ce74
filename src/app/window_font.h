// The window's font. Tahoma where the system has it; elsewhere the family, width and size
// are chosen at start so that the status texts keep to the status label, whose size is
// fixed: a stand-in for Tahoma is often wider and would hide the last line.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QStringList>

namespace veldar {

// The program's longest status texts, as the label shows them: the completion (records, time
// taken, time of the end), a dump under way, and the failed open with its retry hint.
QStringList LongestStatusTexts();

// True when every text, word-wrapped, fits inside a label of that size in the font.
bool FitsLabel(const QFont& font, const QStringList& texts, QSize label);

// The regular font of the window, chosen once per run; bold for the labels that need it.
QFont WindowFont(bool bold = false);

} // namespace veldar
