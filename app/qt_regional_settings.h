#pragma once
// The user's regional settings, read from the system locale.

#include "db/regional_settings.h"

#include <QLocale>

namespace varnika {

// Date order, separators and formats of `locale`. The C/POSIX locale, which
// says nothing about the user, gives the Turkish settings.
RegionalSettings regionalSettingsFrom(const QLocale& locale);
RegionalSettings systemRegionalSettings();

}  // namespace varnika
