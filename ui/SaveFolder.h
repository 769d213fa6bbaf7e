#pragma once

// Where the windows save files: the folder the user last saved one in, or else the Documents
// folder; never the working folder, which on Windows is the program's own (the Start menu starts
// it there) and which a user may not write.

#include <QString>

namespace kelvara::ui {

QString SaveFolder();
// The folder of a file just saved (or chosen to save into) is where the next goes.
void RememberSaveFolder(const QString& file);
// A file name as typed: a bare or relative name is in SaveFolder(), an absolute one stays.
QString InSaveFolder(const QString& typed);

} // namespace kelvara::ui
