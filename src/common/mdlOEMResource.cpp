#include "common/mdlOEMResource.h"

namespace mdlOEMResource {

QString GetOEMProductName()
{
    return QStringLiteral("Orvane客户资源管理系统");
}

QString GetOEMShortName()
{
    return QStringLiteral("Orvane");
}

QString GetOEMDatabaseName()
{
    return QStringLiteral("OrvaneCrm");
}

} // namespace mdlOEMResource
