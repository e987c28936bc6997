#include "settings/install_settings.h"
