#include "scheduler/cron_table.h"
