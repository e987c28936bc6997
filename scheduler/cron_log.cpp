#include "scheduler/cron_log.h"
