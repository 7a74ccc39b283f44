#include "framenavigation.h"

namespace tovrin3 {

QString framePositionText(int position, int maximum)
{
    return QString::number(position) + QLatin1Char('/') + QString::number(maximum);
}

} // namespace tovrin3
