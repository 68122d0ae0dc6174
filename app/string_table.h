// The program's string table in German and English, keyed by IDS_ ids.
#pragma once

#include <QString>

#include "language.h"

// The string with that id in the resource language; empty when there is none.
QString LoadString(int id);
QString LoadString(int id, Language language);
