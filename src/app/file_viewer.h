// Opens a saved capture in the desktop's program for its type ("Voir le fichier").
#pragma once

#include <QString>
#include <functional>

class QObject;

namespace veldar {

// Asks the desktop to open the file. When no program could open it, notFound runs: at once
// when the desktop has no opener at all, later (from the event loop) when the opener gives up.
// The opener, while it runs, belongs to context.
void OpenWithDesktop(const QString& file, QObject* context, std::function<void()> notFound);

} // namespace veldar
