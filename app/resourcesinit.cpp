#include "resourcesinit.h"

#include <QtGlobal>

void registerBarotermResources()
{
    Q_INIT_RESOURCE(baroterm);
}
