#pragma once

#include <QString>

// The product identity values that titles, captions and defaults are built from.
namespace mdlOEMResource {

QString GetOEMProductName();  // "Orvane客户资源管理系统"
QString GetOEMShortName();    // "Orvane"
QString GetOEMDatabaseName(); // "OrvaneCrm"

} // namespace mdlOEMResource
