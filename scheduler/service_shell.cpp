#include "scheduler/service_shell.h"
