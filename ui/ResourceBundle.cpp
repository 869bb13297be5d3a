#include "ui/ResourceBundle.h"

#include <QtGlobal>

static void registerImages()
{
    Q_INIT_RESOURCE(tessivo_images);
}

void ResourceBundle::ensureRegistered()
{
    static const bool registered = (registerImages(), true);
    Q_UNUSED(registered);
}
