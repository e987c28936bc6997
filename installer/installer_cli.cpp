#include "installer/installer_cli.h"
