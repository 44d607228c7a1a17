#pragma once

#include <QString>

// The demo single-user database: a small CRM (users, companies, contacts,
// activities) with Chinese sample data, the version row in tblVarible, and the
// database password of single-user files. The content is fixed, so every
// build writes the same rows.
namespace jetdemo {

// The "DB"/"Version" value of the demo file: the newest version block of
// OVScriptUpdate.txt, whose schema the demo tables carry, as in a file of the
// current single-user edition.
inline const QString kDemoVersion = QStringLiteral("1.6");

// Writes the demo database to path (replacing it). On failure returns false
// and puts the reason into *error.
bool WriteDemoDatabase(const QString& path, QString* error);

} // namespace jetdemo
