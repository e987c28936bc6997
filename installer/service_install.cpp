#include "installer/service_install.h"
