#pragma once
// Qt's own texts in Turkish: the file dialog ("Aç", "İptal"), the message
// box's button and the boxes' context menus, whatever language the system
// is set to, since every text of the window is Turkish.

class QCoreApplication;

namespace varnika {

// Loads Qt's Turkish catalogue (qtbase_tr.qm, Debian package
// qt6-translations-l10n) from Qt's translations folder and installs it on
// `app`. False when the catalogue is missing; Qt's texts stay English then.
bool installQtTurkish(QCoreApplication& app);

}  // namespace varnika
